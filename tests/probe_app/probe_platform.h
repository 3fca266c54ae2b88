// The few system facts the probe application needs, one file per platform.
#pragma once

#include <string>
#include <vector>

// The arguments after the program name, as the program received them.
std::vector<std::string> ProbeArguments(int Argc, char** Argv);
// The raw command line where the system has one (Windows), else empty text.
std::string ProbeCommandLine();
// The value of an environment variable; Present tells whether it is set.
std::string ProbeEnvironment(const std::string& Name, bool& Present);
// The folder of the running executable, without a trailing separator.
std::string ProbeOwnFolder();
// The current folder, without a trailing separator.
std::string ProbeCurrentFolder();
// Ends the process the way a crash does (a fault the program does not handle).
[[noreturn]] void ProbeCrash();

// From now on a request to stop (SIGTERM, SIGINT or SIGHUP on POSIX) is
// only noted instead of ending the process; false where the platform has no
// such requests.
bool ProbeOnTermination();
// True once a request to stop has arrived since ProbeOnTermination.
bool ProbeTerminationRequested();
