// POSIX hands the program its arguments already cut (argv), so they are taken
// as they are; entry 0 is the executable's path from /proc/self/exe, or
// argv[0] where that cannot be read.
#include "runtime/arguments.h"

#include <unistd.h>

std::vector<std::string> ReadArgumentList(int argc, char** argv) {
  std::vector<std::string> list;
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n > 0)
    list.emplace_back(path, static_cast<size_t>(n));
  else
    list.emplace_back(argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "");
  for (int i = 1; i < argc && argv != nullptr; ++i)
    list.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return list;
}
