// Windows: the arguments are cut from the command line the system gives
// (GetCommandLineA); entry 0 is the module file name (GetModuleFileNameA, up
// to 260 characters) rather than the first word.
#include "runtime/arguments.h"

#include <windows.h>

std::vector<std::string> ReadArgumentList(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> list;
  char module[261];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof(module));
  if (n >= sizeof(module)) n = sizeof(module) - 1;
  list.emplace_back(module, n);
  const char* commandLine = GetCommandLineA();
  std::vector<std::string> words = SplitProgramArguments(commandLine != nullptr ? commandLine : "");
  for (size_t i = 1; i < words.size(); ++i) list.push_back(words[i]);
  return list;
}
