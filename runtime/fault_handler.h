// Conversion of processor faults (access violations) into the failure
// report: the report of an EAccessViolation goes to the message-box channel,
// the boxes are shown and the process ends with exit code 217. The stack is
// not unwound, so no clean-up of the interrupted code runs.
#pragma once

// Installs the handler (platform file).
void InstallFaultHandler();

// Appends a fault report to the shared message-box buffer, shows it and ends
// the process with exit code 217. Allocates nothing.
[[noreturn]] void ReportFaultAndEnd(const char* Message, unsigned long long Address,
                                    const unsigned long long* ReturnAddresses, unsigned Count);
