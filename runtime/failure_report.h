// The text of the report of an unhandled failure and of a run-time error.
// Every line ends with carriage return and line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Exception;

// Writes Value as 16 upper-case hexadecimal digits, leading zeros kept, to
// Out (16 characters, no NUL). Async-signal-safe.
void WriteHex16(uintptr_t Value, char* Out);

// "$" followed by the address in 16 upper-case hexadecimal digits.
std::string FormatCodeAddress(const void* Address);

// The line naming the failure object: its class name, ": " and its message.
std::string FailureObjectLine(const Exception& Failure);
// The line for an object of a class that is not derived from Exception.
std::string ForeignObjectLine(const std::string& ClassName);
// The line for something that is not a valid object at all.
std::string InvalidObjectLine();

// The whole report: "An unhandled exception occurred at $...:", the object
// line, the raising address and each return address as "  $..." lines, and
// an empty line.
std::string FormatFailureReport(const std::string& ObjectLine, const void* RaiseAddress,
                                const std::vector<void*>& ReturnAddresses);
// The report of a failure object, from its own record.
std::string FormatFailureReport(const Exception& Failure);

// The report of a run-time error met before failures can be reported:
// "Runtime error N at $...", the address lines, an empty line.
std::string FormatRuntimeErrorReport(int ErrorNumber, const void* Address, const std::vector<void*>& ReturnAddresses);

// Builds the report of a processor fault into Out without allocating
// (async-signal-safe); gives the length written, at most Capacity.
size_t FormatFaultReport(const char* ClassName, const char* Message, uintptr_t Address,
                         const uintptr_t* ReturnAddresses, size_t Count, char* Out, size_t Capacity);
