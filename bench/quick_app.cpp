// The application of the benchmark bundle: it exits at once, so that a
// launcher run measures the launcher's own work.
int main() { return 0; }
