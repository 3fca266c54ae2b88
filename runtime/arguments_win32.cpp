// Windows: the arguments are cut from the command line the system gives;
// entry 0 is the module file name (up to 260 characters) rather than the
// first word. Both are read through the wide calls and turned into UTF-8,
// the text of the whole system: the 8-bit calls would replace every
// character outside the ANSI code page by "?", so an argument or a folder
// name in another script would not reach the application intact.
#include "runtime/arguments.h"

#include <windows.h>

#include "runtime/wide_text_win32.h"

std::vector<std::string> ReadArgumentList(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> list;
  wchar_t module[261];
  DWORD n = GetModuleFileNameW(nullptr, module, 261);
  if (n > 260) n = 260;
  list.push_back(WideToUtf8(module, n));
  const wchar_t* commandLine = GetCommandLineW();
  std::string text = commandLine != nullptr ? WideToUtf8(commandLine, static_cast<size_t>(lstrlenW(commandLine))) : std::string();
  std::vector<std::string> words = SplitProgramArguments(text);
  for (size_t i = 1; i < words.size(); ++i) list.push_back(words[i]);
  return list;
}
