// quintabel-pack's program entry: the arguments as UTF-8 (read through the
// wide calls on Windows), the tool's messages on the standard channels.
#include <cstdio>

#include "pack/pack_tool.h"
#include "runtime/arguments.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments = ReadArgumentList(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  std::string out, errors;
  const int code = RunPackTool(arguments, out, errors);
  std::fputs(out.c_str(), stdout);
  std::fputs(errors.c_str(), stderr);
  return code;
}
