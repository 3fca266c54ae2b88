#include "bundle/demo_app/demo_platform.h"

#include <unistd.h>

#include <vector>

std::string DemoExecutablePath() {
  std::vector<char> Buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < Buffer.size()) return std::string(Buffer.data(), static_cast<size_t>(n));
    Buffer.resize(Buffer.size() * 2);
  }
}

std::vector<std::string> DemoArguments(int argc, char** argv) {
  std::vector<std::string> Arguments;
  for (int i = 1; i < argc; ++i) Arguments.emplace_back(argv[i]);
  return Arguments;
}
