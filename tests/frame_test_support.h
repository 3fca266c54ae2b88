// Test support for the frame tests: starting the frame's test program as a
// child process. One file per platform.
#pragma once

#include <string>

// Starts Program with the command-line text Tail after the program's own
// (quoted) name, waits for it and gives its exit code (128 + the signal
// number after a signal). Windows hands the text to the child as its command
// line; POSIX, which has no command line, cuts Tail with
// SplitProgramArguments into the child's argv. The child's standard error
// goes to StdErrFile when it is not empty.
int RunChild(const std::string& Program, const std::string& Tail, const std::string& StdErrFile);

// Whether the failure report of a child that uses the platform's real boxes
// arrives on its standard error (POSIX), rather than in a message box.
bool BoxesOnStdErr();
