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
  char out[17] = {};
  WriteHex16(0, out);
  EXPECT_STREQ(out, "0000000000000000");
  WriteHex16(0xABCDEF, out);
  EXPECT_STREQ(out, "0000000000ABCDEF");
  WriteHex16(static_cast<uintptr_t>(0x0123456789ABCDEFull), out);
  EXPECT_STREQ(out, "0123456789ABCDEF");
  WriteHex16(UINTPTR_MAX, out);
  EXPECT_STREQ(out, "FFFFFFFFFFFFFFFF");
}

TEST(FormatCodeAddress, DollarAndSixteenDigits) {
  EXPECT_EQ(FormatCodeAddress(nullptr), "$0000000000000000");
  EXPECT_EQ(FormatCodeAddress(Address(0x140001A2F)), "$0000000140001A2F");
}

TEST(FormatFailureReport, ExactLines) {
  std::string report = FormatFailureReport("EProcess: Failed to execute \"x\" : 2",
                                           Address(0x401000), {Address(0x402010), Address(0x4030AB)});
  EXPECT_EQ(report,
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
  std::vector<void*> frames;
  for (uintptr_t i = 1; i <= 20; ++i) frames.push_back(Address(i));
  std::string report = FormatFailureReport("E: m", Address(0x99), frames);
  size_t addressLines = 0;
  for (size_t p = report.find("  $"); p != std::string::npos; p = report.find("  $", p + 1))
    ++addressLines;
  EXPECT_EQ(addressLines, 17u);  // the raising address and 16 return addresses
  EXPECT_NE(report.find("  $0000000000000010\r\n"), std::string::npos);
  EXPECT_EQ(report.find("  $0000000000000011\r\n"), std::string::npos);
}

TEST(FailureObjectLines, ClassNameAndMessage) {
  EXPECT_EQ(FailureObjectLine(EFOpenError("Unable to open file \"a\"")),
            "EFOpenError: Unable to open file \"a\"");
  EXPECT_EQ(FailureObjectLine(EInOutError("Disk full", 112)), "EInOutError: Disk full");
  EXPECT_EQ(FailureObjectLine(Exception("")), "Exception: ");
  EXPECT_EQ(ForeignObjectLine("std::runtime_error"),
            "Exception object std::runtime_error is not of class Exception.");
  EXPECT_EQ(InvalidObjectLine(), "Exception object is not ia valid class.");
}

TEST(FormatFailureReport, FromFailureObjectUsesItsRecord) {
  try {
    throw EZipError("Corrupt archive");
  } catch (const Exception& e) {
    std::string report = FormatFailureReport(e);
    std::string raised = FormatCodeAddress(e.Record().RaiseAddress);
    EXPECT_EQ(report.rfind("An unhandled exception occurred at " + raised + ":\r\n"
                           "EZipError: Corrupt archive\r\n  " + raised + "\r\n", 0),
              0u)
        << report;
    ASSERT_FALSE(e.Record().Frames.empty());
    EXPECT_NE(report.find("  " + FormatCodeAddress(e.Record().Frames[0]) + "\r\n"),
              std::string::npos);
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
  const uintptr_t frames[] = {0x1234, 0xFFFF0000};
  char out[512];
  size_t n = FormatFaultReport("EAccessViolation", "Access violation", 0xABC, frames, 2, out,
                               sizeof(out));
  EXPECT_EQ(std::string(out, n),
            FormatFailureReport("EAccessViolation: Access violation", Address(0xABC),
                                {Address(0x1234), Address(0xFFFF0000)}));
}

TEST(FormatFaultReport, StopsAtCapacity) {
  char out[40];
  std::memset(out, '#', sizeof(out));
  size_t n = FormatFaultReport("EAccessViolation", "Access violation", 0xABC, nullptr, 0, out, 30);
  EXPECT_EQ(n, 30u);
  EXPECT_EQ(std::string(out, n), std::string("An unhandled exception occurred at $").substr(0, 30));
  EXPECT_EQ(out[30], '#');
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
  TRaised raised;
  raised.ReturnAddress = __builtin_return_address(0);
  try {
    throw EProcess("first");
  } catch (const Exception& e) {
    raised.First = e.Record();
  }
  try {
    throw EReadError("second");
  } catch (const Exception& e) {
    raised.Second = e.Record();
  }
  return raised;
}

}  // namespace

TEST(FailureRecord, RaisingAddressIsTheRaisingCode) {
  TRaised raised = RaiseTwice();
  ASSERT_NE(raised.First.RaiseAddress, nullptr);
  ASSERT_FALSE(raised.First.Frames.empty());
  ASSERT_FALSE(raised.Second.Frames.empty());
  // The first return address is where RaiseTwice returns to: nothing of the
  // failure classes sits between the raising code and its caller.
  EXPECT_EQ(raised.First.Frames[0], raised.ReturnAddress);
  EXPECT_EQ(raised.Second.Frames[0], raised.ReturnAddress);
  // Two raising places, two raising addresses.
  EXPECT_NE(raised.First.RaiseAddress, raised.Second.RaiseAddress);
  EXPECT_LE(raised.First.Frames.size(), 16u);
}
