// POSIX hands the program its arguments already cut (argv), so they are taken
// as they are; entry 0 is the executable's path from /proc/self/exe, or
// argv[0] where that cannot be read.
#include <unistd.h>

#include "runtime/arguments.h"

std::vector<std::string> ReadArgumentList(int Argc, char** Argv) {
  std::vector<std::string> List;
  char Path[4096];
  ssize_t N = readlink("/proc/self/exe", Path, sizeof(Path) - 1);
  if (N > 0)
    List.emplace_back(Path, static_cast<size_t>(N));
  else
    List.emplace_back(Argc > 0 && Argv != nullptr && Argv[0] != nullptr ? Argv[0] : "");
  for (int I = 1; I < Argc && Argv != nullptr; ++I) List.emplace_back(Argv[I] != nullptr ? Argv[I] : "");
  return List;
}
