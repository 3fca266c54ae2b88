// The run-time frame around the program: start-up (module initialisations in
// table order), the main routine under the top-level failure guard, the
// report of an unhandled failure, and the exit procedure.
#pragma once

#include <cstddef>
#include <string>

#include "runtime/arguments.h"

// One module of the program: what runs at start-up and at exit. Either may
// be null.
struct TModule {
  void (*Initialise)();
  void (*Finalise)();
};

// Runs start-up, MainRoutine under the top-level guard, and the exit
// procedure; never returns. The frame's own run-time support module runs
// first (before Modules): it fills the argument list, prepares the
// message-box channels and installs the failure report and the conversion of
// processor faults. A failure that nothing handles (in MainRoutine or in a
// module's initialisation) is reported on the standard error channel after
// the stack has unwound, and the exit code becomes 217.
[[noreturn]] void RunProgram(int Argc, char** Argv, const TModule* Modules, size_t ModuleCount, void (*MainRoutine)());

// Sets the exit code and runs the exit procedure.
[[noreturn]] void Halt(int ExitCode);

// The exit code the process will end with.
int ExitCode();

// Writes Text and a line ending to the standard error / standard output
// message-box channel.
void WriteStdErr(const std::string& Text);
void WriteStdOut(const std::string& Text);

// The exit code of an unhandled failure.
constexpr int UnhandledFailureExitCode = 217;
