// The platform's file handle, widened to one integer type (THandle), and
// back. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>

inline HANDLE AsHandle(intptr_t Handle) { return reinterpret_cast<HANDLE>(Handle); }
inline intptr_t AsInteger(HANDLE Handle) { return reinterpret_cast<intptr_t>(Handle); }
