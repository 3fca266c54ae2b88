#include <unistd.h>

#include <vector>

#include "bundle/demo_app/demo_platform.h"

std::string DemoExecutablePath() {
  std::vector<char> Buffer(4096);
  for (;;) {
    const ssize_t N = readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (N < 0) return std::string();
    if (static_cast<size_t>(N) < Buffer.size()) return std::string(Buffer.data(), static_cast<size_t>(N));
    Buffer.resize(Buffer.size() * 2);
  }
}

std::vector<std::string> DemoArguments(int Argc, char** Argv) {
  std::vector<std::string> Arguments;
  for (int I = 1; I < Argc; ++I) Arguments.emplace_back(Argv[I]);
  return Arguments;
}
