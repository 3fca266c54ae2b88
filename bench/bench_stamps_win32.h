// The stamps the Windows benchmark's programs leave for its harness
// (wine_bench_win32.cpp), in a named shared memory block that the harness
// makes: QueryPerformanceCounter readings, comparable between processes.
// Windows only.
#pragma once

#include <windows.h>

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
