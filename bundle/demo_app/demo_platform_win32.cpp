#include <windows.h>

#include <shellapi.h>

#include "bundle/demo_app/demo_platform.h"

namespace {

std::string ToUtf8(const wchar_t* Text, int Length) {
  if (Length == 0) return std::string();
  const int Size = WideCharToMultiByte(CP_UTF8, 0, Text, Length, nullptr, 0, nullptr, nullptr);
  std::string Result(static_cast<size_t>(Size > 0 ? Size : 0), '\0');
  if (Size > 0) WideCharToMultiByte(CP_UTF8, 0, Text, Length, &Result[0], Size, nullptr, nullptr);
  return Result;
}

}  // namespace

std::string DemoExecutablePath() {
  std::wstring Buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD N = GetModuleFileNameW(nullptr, &Buffer[0], static_cast<DWORD>(Buffer.size()));
    if (N == 0) return std::string();
    if (N < Buffer.size()) return ToUtf8(Buffer.data(), static_cast<int>(N));
    Buffer.resize(Buffer.size() * 2);
  }
}

// The narrow argv is in the ANSI code page; the wide command line keeps every
// character.
std::vector<std::string> DemoArguments(int, char**) {
  std::vector<std::string> Arguments;
  int Count = 0;
  LPWSTR* Words = CommandLineToArgvW(GetCommandLineW(), &Count);
  if (Words == nullptr) return Arguments;
  for (int I = 1; I < Count; ++I) Arguments.push_back(ToUtf8(Words[I], static_cast<int>(wcslen(Words[I]))));
  LocalFree(Words);
  return Arguments;
}
