// Ending the process with an exit code, without running anything more
// (platform file).
#pragma once

[[noreturn]] void EndProcess(int ExitCode);
