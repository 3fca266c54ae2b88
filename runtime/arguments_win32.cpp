// Windows: the arguments are cut from the command line the system gives;
// entry 0 is the module file name (up to 260 characters) rather than the
// first word. Both are read through the wide calls and turned into UTF-8,
// the text of the whole system: the 8-bit calls would replace every
// character outside the ANSI code page by "?", so an argument or a folder
// name in another script would not reach the application intact.
#include "runtime/arguments.h"

#include <windows.h>

namespace {

std::string WideToUtf8(const wchar_t* Text, int Length) {
  if (Length <= 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, Text, Length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text, Length, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

std::vector<std::string> ReadArgumentList(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> list;
  wchar_t module[261];
  DWORD n = GetModuleFileNameW(nullptr, module, 261);
  if (n > 260) n = 260;
  list.push_back(WideToUtf8(module, static_cast<int>(n)));
  const wchar_t* commandLine = GetCommandLineW();
  std::string text = commandLine != nullptr ? WideToUtf8(commandLine, lstrlenW(commandLine)) : std::string();
  std::vector<std::string> words = SplitProgramArguments(text);
  for (size_t i = 1; i < words.size(); ++i) list.push_back(words[i]);
  return list;
}
