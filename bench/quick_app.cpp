// The application of the benchmark bundle: it notes the moment it started
// (the steady clock, in nanoseconds, into the file QB_BENCH_STAMP names)
// and exits at once, so that a launcher run measures the launcher's own
// work.
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main() {
  const auto Now = std::chrono::steady_clock::now().time_since_epoch();
  if (const char* Stamp = std::getenv("QB_BENCH_STAMP"))
    if (std::FILE* Out = std::fopen(Stamp, "w")) {
      std::fprintf(Out, "%lld\n", static_cast<long long>(std::chrono::nanoseconds(Now).count()));
      std::fclose(Out);
    }
  return 0;
}
