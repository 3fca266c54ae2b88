#include "fs/wide_path_win32.h"

#include <windows.h>

#include <vector>

#include "runtime/wide_text_win32.h"

namespace {

constexpr size_t LongPathThreshold = 248;

}  // namespace

std::wstring WidePath(const std::string& Path) {
  std::wstring Wide = Utf8ToWide(Path);
  if (Wide.size() < LongPathThreshold || Wide.compare(0, 4, L"\\\\?\\") == 0) return Wide;
  // GetFullPathNameW works on the text alone, at any length.
  DWORD Needed = GetFullPathNameW(Wide.c_str(), 0, nullptr, nullptr);
  if (Needed == 0) return Wide;
  std::vector<wchar_t> Full(Needed + 1);
  DWORD Length = GetFullPathNameW(Wide.c_str(), static_cast<DWORD>(Full.size()), Full.data(), nullptr);
  if (Length == 0 || Length >= Full.size()) return Wide;
  std::wstring Result(Full.data(), Length);
  if (Result.size() >= 2 && Result[0] == L'\\' && Result[1] == L'\\') return L"\\\\?\\UNC\\" + Result.substr(2);
  if (Result.size() >= 3 && Result[1] == L':' && Result[2] == L'\\') return L"\\\\?\\" + Result;
  return Wide;
}
