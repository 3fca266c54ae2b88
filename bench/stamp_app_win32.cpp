// The application of the Windows benchmark bundle: it notes the moment it
// starts and the moment it ends in the harness's stamps and exits at once,
// so that the harness sees where the launcher's work before and after the
// application begins and ends. Also the harness's trivial program, whose
// stamps give Wine's own cost of starting and ending a program; built with
// QB_STAMP_LAUNCHER_IMPORTS it loads the system libraries the launcher
// loads besides kernel32 (advapi32, whose start-up under Wine costs more
// than the program's; user32 the launcher loads only to show a failure),
// the trivial program for the launcher's own start and end.
#include "bench/bench_win32.h"

#ifdef QB_STAMP_LAUNCHER_IMPORTS
#include <aclapi.h>

// Referenced, so that the libraries are loaded as the launcher's are.
void* volatile LauncherImports[] = {reinterpret_cast<void*>(&GetSecurityInfo)};
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const LONGLONG Start = BenchNow();
  if (TBenchStamps* Stamps = OpenBenchStamps()) {
    Stamps->AppStart = Start;
    Stamps->AppEnd = BenchNow();
  }
  return 0;
}
