// Ending the process with an exit code, without running anything more
// (platform file).
#pragma once

[[noreturn]] void EndProcess(int ExitCode);

// Ends the process with the exit code at once, from a fault handler: only
// async-signal-safe calls, no flush of the C library's buffered streams
// (their state may be what the fault interrupted).
[[noreturn]] void EndProcessAfterFault(int ExitCode);
