// The frame seen from outside: tests/frame_child.cpp runs through RunProgram
// and records its events and the boxes it shows; these tests start it and
// check the order of start-up and exit, the failure report and exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/frame_long_message.h"
#include "tests/frame_test_support.h"
#include "tests/test_support.h"

namespace {

using qbtest::ReadFile;

const std::string Child = QB_FRAME_CHILD;

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Lines;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) Lines.push_back(Line);
  return Lines;
}

// Splits "<length>:<text>" records.
std::vector<std::string> ParseBoxes(const std::string& Text) {
  std::vector<std::string> Boxes;
  size_t Pos = 0;
  while (Pos < Text.size()) {
    size_t Colon = Text.find(':', Pos);
    if (Colon == std::string::npos) break;
    size_t Length = std::stoul(Text.substr(Pos, Colon - Pos));
    Boxes.push_back(Text.substr(Colon + 1, Length));
    Pos = Colon + 1 + Length;
  }
  return Boxes;
}

std::string Quoted(const std::string& Text) { return "\"" + Text + "\""; }

// Checks Report line by line against the report format with the given
// object line; the raising address must appear in the header and as the
// first address line.
void ExpectReport(const std::string& Report, const std::string& ObjectLine) {
  ASSERT_GE(Report.size(), 4u);
  EXPECT_EQ(Report.substr(Report.size() - 4), "\r\n\r\n") << Report;
  std::vector<std::string> Lines;
  size_t Pos = 0;
  for (size_t End; (End = Report.find("\r\n", Pos)) != std::string::npos; Pos = End + 2)
    Lines.push_back(Report.substr(Pos, End - Pos));
  EXPECT_EQ(Pos, Report.size()) << "text after the last line ending";
  ASSERT_GE(Lines.size(), 4u) << Report;
  std::smatch Header;
  ASSERT_TRUE(std::regex_match(Lines[0], Header, std::regex("An unhandled exception occurred at \\$([0-9A-F]{16}):")))
      << Lines[0];
  EXPECT_EQ(Lines[1], ObjectLine);
  EXPECT_EQ(Lines[2], "  $" + Header[1].str());
  EXPECT_LE(Lines.size(), 4u + 16u);
  for (size_t I = 3; I + 1 < Lines.size(); ++I)
    EXPECT_TRUE(std::regex_match(Lines[I], std::regex("  \\$[0-9A-F]{16}"))) << Lines[I];
  EXPECT_EQ(Lines.back(), "");
}

class FrameTest : public ::testing::Test {
 protected:
  // Runs a scenario that records its events and boxes.
  int Run(const std::string& Scenario, const std::string& Extra = "") {
    return RunChild(Child, Scenario + " " + Quoted(FRecord) + (Extra.empty() ? "" : " " + Extra), "");
  }
  std::vector<std::string> Events() { return Lines(ReadFile(FRecord)); }
  std::vector<std::string> Boxes() { return ParseBoxes(ReadFile(FRecord + ".boxes")); }
  // Removes what earlier runs recorded.
  void ForgetEarlierRuns() {
    qbtest::fsys::remove(qbtest::U8(FRecord));
    qbtest::fsys::remove(qbtest::U8(FRecord + ".boxes"));
  }
  // The run showed one box: a report with the object line ObjectLine.
  void ExpectOneReport(const std::string& ObjectLine) {
    const std::vector<std::string> Shown = Boxes();
    ASSERT_EQ(Shown.size(), 1u);
    ExpectReport(Shown[0], ObjectLine);
  }

  qbtest::TScratchFolder FScratch;
  const std::string FRecord = FScratch.Path("events.txt");
};

}  // namespace

TEST_F(FrameTest, NormalRunShowsNothingAndEndsWithZero) {
  EXPECT_EQ(Run("ok"), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "init B", "init C", "main", "final C", "final A"}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FrameTest, FailureRunsCleanupAndFinalisationsBeforeTheReportIsShown) {
  EXPECT_EQ(Run("raise"), 217);
  // The guard's clean-up runs while the failure unwinds, before the report;
  // finalisations run in reverse order (B has none); the box comes last.
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"init A", "init B", "init C", "main", "cleanup", "final C", "final A", "box"}));
  ExpectOneReport("EProcess: Failed to execute \"nowhere\\quintabel.exe\" x : 2");
}

TEST_F(FrameTest, FailingInitialisationStopsStartUpAndFinalisesOnlyInitialisedModules) {
  EXPECT_EQ(Run("initfail"), 217);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "init F", "final A", "box"}));
  ExpectOneReport("EFOpenError: Unable to open file \"missing.dat\"");
}

TEST_F(FrameTest, LongReportArrivesInSeveralBoxesWithNothingLostOrRepeated) {
  EXPECT_EQ(Run("long"), 217);
  std::vector<std::string> Shown = Boxes();
  ASSERT_EQ(Shown.size(), 3u);
  EXPECT_EQ(Shown[0].size(), 1024u);
  EXPECT_EQ(Shown[1].size(), 1024u);
  std::string Report = Shown[0] + Shown[1] + Shown[2];
  ExpectReport(Report, "EProcess: " + LongMessage());
}

TEST_F(FrameTest, ArgumentListReachesTheProgram) {
  // Quotes group words and are dropped, doubled quotes vanish, a word of
  // only quotes is an empty argument, backslashes stay as they are.
  EXPECT_EQ(Run("args", "\"a  b\" \"\"\"\" c\\\"d e\\\" x\"\"y"), 0);
  std::vector<std::string> Seen = Events();
  ASSERT_EQ(Seen.size(), 9u) << ReadFile(FRecord);
  EXPECT_EQ(Seen[0], "count 6");
  EXPECT_TRUE(std::regex_match(Seen[1], std::regex("arg 0 \\[.*frame_child(\\.exe)?\\]"))) << Seen[1];
  EXPECT_EQ(Seen[2], "arg 1 [args]");
  EXPECT_EQ(Seen[3], "arg 2 [" + FRecord + "]");
  EXPECT_EQ(Seen[4], "arg 3 [a  b]");
  EXPECT_EQ(Seen[5], "arg 4 []");
  EXPECT_EQ(Seen[6], "arg 5 [c\\d e\\]");
  EXPECT_EQ(Seen[7], "arg 6 [xy]");
  EXPECT_EQ(Seen[8], "first [args]");
}

TEST_F(FrameTest, ArgumentsOutsideAsciiArriveAsUtf8) {
  EXPECT_EQ(Run("args", "\"Données 日本語\" ü"), 0);
  std::vector<std::string> Seen = Events();
  ASSERT_EQ(Seen.size(), 7u) << ReadFile(FRecord);
  EXPECT_EQ(Seen[4], "arg 3 [Données 日本語]");
  EXPECT_EQ(Seen[5], "arg 4 [ü]");
}

TEST_F(FrameTest, ControlCharactersSeparateArguments) {
  EXPECT_EQ(Run("args", "one\ttwo"), 0);
  std::vector<std::string> Seen = Events();
  ASSERT_EQ(Seen.size(), 7u) << ReadFile(FRecord);
  EXPECT_EQ(Seen[0], "count 4");
  EXPECT_EQ(Seen[4], "arg 3 [one]");
  EXPECT_EQ(Seen[5], "arg 4 [two]");
}

TEST_F(FrameTest, OutOfMemoryAndForeignObjectsAreNamedInTheReport) {
  const std::pair<const char*, const char*> Cases[] = {
      {"badalloc", "EOutOfMemory: Out of memory"},
      {"foreign", "Exception object std::runtime_error is not of class Exception."},
      {"foreignint", "Exception object int is not of class Exception."},
  };
  for (const auto& [Scenario, ObjectLine] : Cases) {
    SCOPED_TRACE(Scenario);
    ForgetEarlierRuns();
    EXPECT_EQ(Run(Scenario), 217);
    ExpectOneReport(ObjectLine);
  }
}

TEST_F(FrameTest, TextWrittenToTheChannelsIsShownAtExit) {
  EXPECT_EQ(Run("output"), 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"first line\r\nsecond line\r\nunfinished"});
}

TEST_F(FrameTest, HaltRunsTheExitProcedureWithItsCode) {
  EXPECT_EQ(Run("halt"), 3);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "main", "final A"}));
  EXPECT_TRUE(Boxes().empty());
}

// The sanitizers take segmentation faults and divisions by zero themselves.
#if defined(__SANITIZE_ADDRESS__)
#define QB_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_UNDER_ASAN 1
#endif
#endif

TEST_F(FrameTest, ProcessorFaultIsReportedAsEAccessViolation) {
#ifdef QB_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer handles segmentation faults itself";
#endif
  EXPECT_EQ(Run("fault"), 217);
  // No unwinding: module A is not finalised, nothing after the fault runs.
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "main", "box"}));
  ExpectOneReport("EAccessViolation: Access violation");
}

TEST_F(FrameTest, FaultEndsWithoutTouchingTheCLibrarysStreams) {
#ifdef QB_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer handles segmentation faults itself";
#endif
  // The fault handler runs only async-signal-safe calls: a stream whose
  // state the fault may have interrupted is not flushed on the way out.
  EXPECT_EQ(Run("faultbuffered"), 217);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "main", "box"}));
  ASSERT_TRUE(qbtest::fsys::exists(qbtest::U8(FRecord + ".buffered")));
  EXPECT_EQ(ReadFile(FRecord + ".buffered"), "");
  ExpectOneReport("EAccessViolation: Access violation");
}

TEST_F(FrameTest, IntegerDivisionByZeroIsReportedAsEDivByZero) {
#ifdef QB_UNDER_ASAN
  GTEST_SKIP() << "the sanitizers handle divisions by zero themselves";
#endif
  EXPECT_EQ(Run("divzero"), 217);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "main", "box"}));
  ExpectOneReport("EDivByZero: Division by zero");
}

// POSIX shows a box as the caption line "Error" and the text on standard
// error; these read it there. (Windows' real boxes are checked by
// message_box_relay_test.)
class RealBoxTest : public FrameTest {
 protected:
  // Runs with the platform's boxes; gives the exit code, stderr in StdErr.
  int RunReal(const std::string& Scenario) {
    std::string ErrFile = FScratch.Path("stderr.txt");
    int Code = RunChild(Child, Scenario + " -", ErrFile);
    FStdErr = ReadFile(ErrFile);
    return Code;
  }
  // Takes the boxes apart: each is "Error\n" and its text, plus "\n" when
  // the text does not end a line; every box but the last holds 1,024
  // characters.
  std::vector<std::string> SplitBoxes() {
    std::vector<std::string> Boxes;
    size_t Pos = 0;
    while (Pos < FStdErr.size()) {
      EXPECT_EQ(FStdErr.compare(Pos, 6, "Error\n"), 0) << "no caption at " << Pos;
      Pos += 6;
      size_t Rest = FStdErr.size() - Pos;
      if (Rest <= 1024) {
        Boxes.push_back(FStdErr.substr(Pos));
        break;
      }
      Boxes.push_back(FStdErr.substr(Pos, 1024));
      Pos += 1024;
      if (Boxes.back().back() != '\n') {
        EXPECT_EQ(FStdErr.compare(Pos, 1, "\n"), 0) << "no line end after the box at " << Pos;
        Pos += 1;
      }
    }
    return Boxes;
  }
  std::string FStdErr;
};

TEST_F(RealBoxTest, NormalRunWritesNothing) {
  if (!BoxesOnStdErr()) GTEST_SKIP() << "boxes are message boxes here";
  EXPECT_EQ(RunReal("ok"), 0);
  EXPECT_EQ(FStdErr, "");
}

TEST_F(RealBoxTest, ReportUnderCaptionOnStandardError) {
  if (!BoxesOnStdErr()) GTEST_SKIP() << "boxes are message boxes here";
  EXPECT_EQ(RunReal("raise"), 217);
  ASSERT_EQ(FStdErr.compare(0, 6, "Error\n"), 0) << FStdErr;
  ExpectReport(FStdErr.substr(6), "EProcess: Failed to execute \"nowhere\\quintabel.exe\" x : 2");
}

TEST_F(RealBoxTest, LongReportInSeveralCaptionedBoxes) {
  if (!BoxesOnStdErr()) GTEST_SKIP() << "boxes are message boxes here";
  EXPECT_EQ(RunReal("long"), 217);
  std::vector<std::string> Boxes = SplitBoxes();
  ASSERT_EQ(Boxes.size(), 3u) << FStdErr;
  EXPECT_EQ(Boxes[0].size(), 1024u);
  EXPECT_EQ(Boxes[1].size(), 1024u);
  ExpectReport(Boxes[0] + Boxes[1] + Boxes[2], "EProcess: " + LongMessage());
}

TEST_F(RealBoxTest, FaultReportOnStandardError) {
#ifdef QB_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer handles segmentation faults itself";
#endif
  if (!BoxesOnStdErr()) GTEST_SKIP() << "boxes are message boxes here";
  EXPECT_EQ(RunReal("fault"), 217);
  ASSERT_EQ(FStdErr.compare(0, 6, "Error\n"), 0) << FStdErr;
  ExpectReport(FStdErr.substr(6), "EAccessViolation: Access violation");
}
