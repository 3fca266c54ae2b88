// The two facts the demo application asks the system for.
#pragma once

#include <string>
#include <vector>

// The full path of the running executable, UTF-8.
std::string DemoExecutablePath();
// The arguments after the program name, UTF-8.
std::vector<std::string> DemoArguments(int Argc, char** Argv);
