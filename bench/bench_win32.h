// What the Windows benchmark's programs share: the stamps they leave for
// the harness (wine_bench_win32.cpp), in a named shared memory block that
// the harness makes (QueryPerformanceCounter readings, comparable between
// processes), and their command words. Windows only.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

struct TBenchStamps {
  LONGLONG AppStart;  // the bench application's first and last moment
  LONGLONG AppEnd;
  LONGLONG ToolTicks;  // the plain tool's own time for its work
};

constexpr const wchar_t* BenchStampsName = L"Local\\quintabel-bench-stamps";

inline LONGLONG BenchNow() {
  LARGE_INTEGER Now;
  QueryPerformanceCounter(&Now);
  return Now.QuadPart;
}

// The harness's block, or null when no harness made one (the program was
// started by hand).
inline TBenchStamps* OpenBenchStamps() {
  HANDLE Mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, BenchStampsName);
  if (Mapping == nullptr) return nullptr;
  void* View = MapViewOfFile(Mapping, FILE_MAP_WRITE, 0, 0, sizeof(TBenchStamps));
  CloseHandle(Mapping);  // the view keeps the block
  return static_cast<TBenchStamps*>(View);
}

// The program's command words after its name, as UTF-16.
inline std::vector<std::wstring> CommandWords() {
  int Count = 0;
  wchar_t** Words = CommandLineToArgvW(GetCommandLineW(), &Count);
  std::vector<std::wstring> Result;
  for (int I = 1; I < Count; ++I) Result.push_back(Words[I]);
  LocalFree(Words);
  return Result;
}
