// quintabel-pack's program entry: the arguments as UTF-8 (read through the
// wide calls on Windows), the tool's messages on the standard channels.
#include <cstdio>

#include "pack/pack_tool.h"
#include "runtime/arguments.h"

int main(int argc, char** argv) {
  std::vector<std::string> Arguments = ReadArgumentList(argc, argv);
  if (!Arguments.empty()) Arguments.erase(Arguments.begin());
  std::string Out, Errors;
  const int Code = RunPackTool(Arguments, Out, Errors);
  std::fputs(Out.c_str(), stdout);
  std::fputs(Errors.c_str(), stderr);
  return Code;
}
