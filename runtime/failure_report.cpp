#include "runtime/failure_report.h"

#include "runtime/exceptions.h"

namespace {

const char LineEnd[] = "\r\n";

void AppendAddressLines(std::string& Out, const void* First, const std::vector<void*>& Rest) {
  Out += "  " + FormatCodeAddress(First) + LineEnd;
  for (size_t i = 0; i < Rest.size() && i < 16; ++i)
    Out += "  " + FormatCodeAddress(Rest[i]) + LineEnd;
  Out += LineEnd;
}

// Appends Text to Out[Used..Capacity), cutting it where the room ends.
void Put(char* Out, size_t Capacity, size_t& Used, const char* Text, size_t Length) {
  for (size_t i = 0; i < Length && Used < Capacity; ++i) Out[Used++] = Text[i];
}

void PutText(char* Out, size_t Capacity, size_t& Used, const char* Text) {
  size_t n = 0;
  while (Text[n] != '\0') ++n;
  Put(Out, Capacity, Used, Text, n);
}

void PutAddress(char* Out, size_t Capacity, size_t& Used, uintptr_t Address) {
  char hex[17];
  hex[0] = '$';
  WriteHex16(Address, hex + 1);
  Put(Out, Capacity, Used, hex, sizeof(hex));
}

}  // namespace

void WriteHex16(uintptr_t Value, char* Out) {
  static const char Digits[] = "0123456789ABCDEF";
  uint64_t v = static_cast<uint64_t>(Value);
  for (int i = 15; i >= 0; --i) {
    Out[i] = Digits[v & 0xF];
    v >>= 4;
  }
}

std::string FormatCodeAddress(const void* Address) {
  char hex[16];
  WriteHex16(reinterpret_cast<uintptr_t>(Address), hex);
  return "$" + std::string(hex, sizeof(hex));
}

std::string FailureObjectLine(const Exception& Failure) {
  return std::string(Failure.ClassName()) + ": " + Failure.Message();
}

std::string ForeignObjectLine(const std::string& ClassName) {
  return "Exception object " + ClassName + " is not of class Exception.";
}

std::string InvalidObjectLine() { return "Exception object is not ia valid class."; }

std::string FormatFailureReport(const std::string& ObjectLine, const void* RaiseAddress,
                                const std::vector<void*>& ReturnAddresses) {
  std::string out = "An unhandled exception occurred at " + FormatCodeAddress(RaiseAddress) +
                    ":" + LineEnd + ObjectLine + LineEnd;
  AppendAddressLines(out, RaiseAddress, ReturnAddresses);
  return out;
}

std::string FormatFailureReport(const Exception& Failure) {
  return FormatFailureReport(FailureObjectLine(Failure), Failure.Record().RaiseAddress,
                             Failure.Record().Frames);
}

std::string FormatRuntimeErrorReport(int ErrorNumber, const void* Address,
                                     const std::vector<void*>& ReturnAddresses) {
  std::string out = "Runtime error " + std::to_string(ErrorNumber) + " at " +
                    FormatCodeAddress(Address) + LineEnd;
  AppendAddressLines(out, Address, ReturnAddresses);
  return out;
}

size_t FormatFaultReport(const char* ClassName, const char* Message, uintptr_t Address,
                         const uintptr_t* ReturnAddresses, size_t Count, char* Out,
                         size_t Capacity) {
  size_t used = 0;
  PutText(Out, Capacity, used, "An unhandled exception occurred at ");
  PutAddress(Out, Capacity, used, Address);
  PutText(Out, Capacity, used, ":\r\n");
  PutText(Out, Capacity, used, ClassName);
  PutText(Out, Capacity, used, ": ");
  PutText(Out, Capacity, used, Message);
  PutText(Out, Capacity, used, LineEnd);
  PutText(Out, Capacity, used, "  ");
  PutAddress(Out, Capacity, used, Address);
  PutText(Out, Capacity, used, LineEnd);
  for (size_t i = 0; i < Count && i < 16; ++i) {
    PutText(Out, Capacity, used, "  ");
    PutAddress(Out, Capacity, used, ReturnAddresses[i]);
    PutText(Out, Capacity, used, LineEnd);
  }
  PutText(Out, Capacity, used, LineEnd);
  return used;
}
