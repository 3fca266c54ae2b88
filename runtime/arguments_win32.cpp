// Windows: the arguments are cut from the command line the system gives;
// entry 0 is the module file name (up to 260 characters) rather than the
// first word. Both are read through the wide calls and turned into UTF-8,
// the text of the whole system: the 8-bit calls would replace every
// character outside the ANSI code page by "?", so an argument or a folder
// name in another script would not reach the application intact.
#include <windows.h>

#include "runtime/arguments.h"
#include "runtime/wide_text_win32.h"

std::vector<std::string> ReadArgumentList(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> List;
  wchar_t Module[261];
  DWORD N = GetModuleFileNameW(nullptr, Module, 261);
  if (N > 260) N = 260;
  List.push_back(WideToUtf8(Module, N));
  const wchar_t* CommandLine = GetCommandLineW();
  std::string Text =
      CommandLine != nullptr ? WideToUtf8(CommandLine, static_cast<size_t>(lstrlenW(CommandLine))) : std::string();
  std::vector<std::string> Words = SplitProgramArguments(Text);
  for (size_t I = 1; I < Words.size(); ++I) List.push_back(Words[I]);
  return List;
}
