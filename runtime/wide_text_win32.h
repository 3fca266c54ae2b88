// UTF-8 <-> UTF-16 conversion for the wide ("W") Win32 calls. Windows only.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring Utf8ToWide(const std::string& Text) {
  if (Text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), &out[0], n);
  return out;
}

inline std::string WideToUtf8(const wchar_t* Text, size_t Length) {
  if (Length == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Length), &out[0], n, nullptr, nullptr);
  return out;
}

inline std::string WideToUtf8(const std::wstring& Text) { return WideToUtf8(Text.data(), Text.size()); }
