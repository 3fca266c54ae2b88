#include "runtime/failure_report.h"

#include "runtime/exceptions.h"

namespace {

const char LineEnd[] = "\r\n";

void AppendAddressLines(std::string& Out, const void* First, const std::vector<void*>& Rest) {
  Out += "  " + FormatCodeAddress(First) + LineEnd;
  for (size_t I = 0; I < Rest.size() && I < 16; ++I) Out += "  " + FormatCodeAddress(Rest[I]) + LineEnd;
  Out += LineEnd;
}

// Appends Text to Out[Used..Capacity), cutting it where the room ends.
void Put(char* Out, size_t Capacity, size_t& Used, const char* Text, size_t Length) {
  for (size_t I = 0; I < Length && Used < Capacity; ++I) Out[Used++] = Text[I];
}

void PutText(char* Out, size_t Capacity, size_t& Used, const char* Text) {
  size_t N = 0;
  while (Text[N] != '\0') ++N;
  Put(Out, Capacity, Used, Text, N);
}

void PutAddress(char* Out, size_t Capacity, size_t& Used, uintptr_t Address) {
  char Hex[17];
  Hex[0] = '$';
  WriteHex16(Address, Hex + 1);
  Put(Out, Capacity, Used, Hex, sizeof(Hex));
}

}  // namespace

void WriteHex16(uintptr_t Value, char* Out) {
  static const char Digits[] = "0123456789ABCDEF";
  uint64_t V = static_cast<uint64_t>(Value);
  for (int I = 15; I >= 0; --I) {
    Out[I] = Digits[V & 0xF];
    V >>= 4;
  }
}

std::string FormatCodeAddress(const void* Address) {
  char Hex[16];
  WriteHex16(reinterpret_cast<uintptr_t>(Address), Hex);
  return "$" + std::string(Hex, sizeof(Hex));
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
  std::string Out =
      "An unhandled exception occurred at " + FormatCodeAddress(RaiseAddress) + ":" + LineEnd + ObjectLine + LineEnd;
  AppendAddressLines(Out, RaiseAddress, ReturnAddresses);
  return Out;
}

std::string FormatFailureReport(const Exception& Failure) {
  return FormatFailureReport(FailureObjectLine(Failure), Failure.Record().RaiseAddress, Failure.Record().Frames);
}

std::string FormatRuntimeErrorReport(int ErrorNumber, const void* Address, const std::vector<void*>& ReturnAddresses) {
  std::string Out = "Runtime error " + std::to_string(ErrorNumber) + " at " + FormatCodeAddress(Address) + LineEnd;
  AppendAddressLines(Out, Address, ReturnAddresses);
  return Out;
}

size_t FormatFaultReport(const char* ClassName, const char* Message, uintptr_t Address,
                         const uintptr_t* ReturnAddresses, size_t Count, char* Out, size_t Capacity) {
  size_t Used = 0;
  PutText(Out, Capacity, Used, "An unhandled exception occurred at ");
  PutAddress(Out, Capacity, Used, Address);
  PutText(Out, Capacity, Used, ":\r\n");
  PutText(Out, Capacity, Used, ClassName);
  PutText(Out, Capacity, Used, ": ");
  PutText(Out, Capacity, Used, Message);
  PutText(Out, Capacity, Used, LineEnd);
  PutText(Out, Capacity, Used, "  ");
  PutAddress(Out, Capacity, Used, Address);
  PutText(Out, Capacity, Used, LineEnd);
  for (size_t I = 0; I < Count && I < 16; ++I) {
    PutText(Out, Capacity, Used, "  ");
    PutAddress(Out, Capacity, Used, ReturnAddresses[I]);
    PutText(Out, Capacity, Used, LineEnd);
  }
  PutText(Out, Capacity, Used, LineEnd);
  return Used;
}
