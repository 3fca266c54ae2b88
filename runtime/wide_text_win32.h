// UTF-8 <-> UTF-16 conversion for the wide ("W") Win32 calls. Windows only.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring Utf8ToWide(const std::string& Text) {
  if (Text.empty()) return std::wstring();
  int N = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring Out(static_cast<size_t>(N), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), &Out[0], N);
  return Out;
}

inline std::string WideToUtf8(const wchar_t* Text, size_t Length) {
  if (Length == 0) return std::string();
  int N = WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Length), nullptr, 0, nullptr, nullptr);
  std::string Out(static_cast<size_t>(N), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Length), &Out[0], N, nullptr, nullptr);
  return Out;
}

inline std::string WideToUtf8(const std::wstring& Text) { return WideToUtf8(Text.data(), Text.size()); }
