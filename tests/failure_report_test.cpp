#include "runtime/failure_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/exceptions.h"

namespace {

void* Address(uintptr_t Value) { return reinterpret_cast<void*>(Value); }

}  // namespace

TEST(WriteHex16, SixteenUpperCaseDigitsWithLeadingZeros) {
  char Out[17] = {};
  WriteHex16(0, Out);
  EXPECT_STREQ(Out, "0000000000000000");
  WriteHex16(0xABCDEF, Out);
  EXPECT_STREQ(Out, "0000000000ABCDEF");
  WriteHex16(static_cast<uintptr_t>(0x0123456789ABCDEFull), Out);
  EXPECT_STREQ(Out, "0123456789ABCDEF");
  WriteHex16(UINTPTR_MAX, Out);
  EXPECT_STREQ(Out, "FFFFFFFFFFFFFFFF");
}

TEST(FormatCodeAddress, DollarAndSixteenDigits) {
  EXPECT_EQ(FormatCodeAddress(nullptr), "$0000000000000000");
  EXPECT_EQ(FormatCodeAddress(Address(0x140001A2F)), "$0000000140001A2F");
}

TEST(FormatFailureReport, ExactLines) {
  std::string Report = FormatFailureReport("EProcess: Failed to execute \"x\" : 2", Address(0x401000),
                                           {Address(0x402010), Address(0x4030AB)});
  EXPECT_EQ(Report,
            "An unhandled exception occurred at $0000000000401000:\r\n"
            "EProcess: Failed to execute \"x\" : 2\r\n"
            "  $0000000000401000\r\n"
            "  $0000000000402010\r\n"
            "  $00000000004030AB\r\n"
            "\r\n");
}

TEST(FormatFailureReport, NoReturnAddresses) {
  EXPECT_EQ(FormatFailureReport("E: m", Address(0x10), {}),
            "An unhandled exception occurred at $0000000000000010:\r\nE: m\r\n"
            "  $0000000000000010\r\n\r\n");
}

TEST(FormatFailureReport, AtMostSixteenReturnAddresses) {
  std::vector<void*> Frames;
  for (uintptr_t I = 1; I <= 20; ++I) Frames.push_back(Address(I));
  std::string Report = FormatFailureReport("E: m", Address(0x99), Frames);
  size_t AddressLines = 0;
  for (size_t P = Report.find("  $"); P != std::string::npos; P = Report.find("  $", P + 1)) ++AddressLines;
  EXPECT_EQ(AddressLines, 17u);  // the raising address and 16 return addresses
  EXPECT_NE(Report.find("  $0000000000000010\r\n"), std::string::npos);
  EXPECT_EQ(Report.find("  $0000000000000011\r\n"), std::string::npos);
}

TEST(FailureObjectLines, ClassNameAndMessage) {
  EXPECT_EQ(FailureObjectLine(EFOpenError("Unable to open file \"a\"")), "EFOpenError: Unable to open file \"a\"");
  EXPECT_EQ(FailureObjectLine(EInOutError("Disk full", 112)), "EInOutError: Disk full");
  EXPECT_EQ(FailureObjectLine(Exception("")), "Exception: ");
  EXPECT_EQ(ForeignObjectLine("std::runtime_error"), "Exception object std::runtime_error is not of class Exception.");
  EXPECT_EQ(InvalidObjectLine(), "Exception object is not ia valid class.");
}

TEST(FormatFailureReport, FromFailureObjectUsesItsRecord) {
  try {
    throw EZipError("Corrupt archive");
  } catch (const Exception& E) {
    std::string Report = FormatFailureReport(E);
    std::string Raised = FormatCodeAddress(E.Record().RaiseAddress);
    EXPECT_EQ(Report.rfind("An unhandled exception occurred at " + Raised +
                               ":\r\n"
                               "EZipError: Corrupt archive\r\n  " +
                               Raised + "\r\n",
                           0),
              0u)
        << Report;
    ASSERT_FALSE(E.Record().Frames.empty());
    EXPECT_NE(Report.find("  " + FormatCodeAddress(E.Record().Frames[0]) + "\r\n"), std::string::npos);
  }
}

TEST(FormatRuntimeErrorReport, ExactLines) {
  EXPECT_EQ(FormatRuntimeErrorReport(203, Address(0xBEEF), {Address(0xCAFE)}),
            "Runtime error 203 at $000000000000BEEF\r\n"
            "  $000000000000BEEF\r\n"
            "  $000000000000CAFE\r\n"
            "\r\n");
}

TEST(FormatFaultReport, SameTextAsFailureReport) {
  const uintptr_t Frames[] = {0x1234, 0xFFFF0000};
  char Out[512];
  size_t N = FormatFaultReport("EAccessViolation", "Access violation", 0xABC, Frames, 2, Out, sizeof(Out));
  EXPECT_EQ(std::string(Out, N), FormatFailureReport("EAccessViolation: Access violation", Address(0xABC),
                                                     {Address(0x1234), Address(0xFFFF0000)}));
}

TEST(FormatFaultReport, StopsAtCapacity) {
  char Out[40];
  std::memset(Out, '#', sizeof(Out));
  size_t N = FormatFaultReport("EAccessViolation", "Access violation", 0xABC, nullptr, 0, Out, 30);
  EXPECT_EQ(N, 30u);
  EXPECT_EQ(std::string(Out, N), std::string("An unhandled exception occurred at $").substr(0, 30));
  EXPECT_EQ(Out[30], '#');
}

// The failure record: the raising address is the code that raised (not a
// constructor of the failure classes), and the return addresses follow it.
namespace {

struct TRaised {
  TFailureRecord First;
  TFailureRecord Second;
  void* ReturnAddress;
};

__attribute__((noinline)) TRaised RaiseTwice() {
  TRaised Raised;
  Raised.ReturnAddress = __builtin_return_address(0);
  try {
    throw EProcess("first");
  } catch (const Exception& E) {
    Raised.First = E.Record();
  }
  try {
    throw EReadError("second");
  } catch (const Exception& E) {
    Raised.Second = E.Record();
  }
  return Raised;
}

}  // namespace

TEST(FailureRecord, RaisingAddressIsTheRaisingCode) {
  TRaised Raised = RaiseTwice();
  ASSERT_NE(Raised.First.RaiseAddress, nullptr);
  ASSERT_FALSE(Raised.First.Frames.empty());
  ASSERT_FALSE(Raised.Second.Frames.empty());
  // The first return address is where RaiseTwice returns to: nothing of the
  // failure classes sits between the raising code and its caller.
  EXPECT_EQ(Raised.First.Frames[0], Raised.ReturnAddress);
  EXPECT_EQ(Raised.Second.Frames[0], Raised.ReturnAddress);
  // Two raising places, two raising addresses.
  EXPECT_NE(Raised.First.RaiseAddress, Raised.Second.RaiseAddress);
  EXPECT_LE(Raised.First.Frames.size(), 16u);
}
