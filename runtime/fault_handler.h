// Conversion of processor faults into the failure report: an access
// violation is reported as EAccessViolation "Access violation", an integer
// division by zero as EDivByZero "Division by zero". The report goes to the
// message-box channel, the boxes are shown and the process ends with exit
// code 217. The stack is not unwound, so no clean-up of the interrupted code
// runs.
#pragma once

// Installs the handler (platform file).
void InstallFaultHandler();

// Appends a fault report to the shared message-box buffer, shows it and ends
// the process with exit code 217. Allocates nothing.
[[noreturn]] void ReportFaultAndEnd(const char* ClassName, const char* Message, unsigned long long Address,
                                    const unsigned long long* ReturnAddresses, unsigned Count);
