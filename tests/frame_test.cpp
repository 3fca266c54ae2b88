// The frame seen from outside: tests/frame_child.cpp runs through RunProgram
// and records its events and the boxes it shows; these tests start it and
// check the order of start-up and exit, the failure report and exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/frame_test_support.h"
#include "tests/test_support.h"

namespace {

using qbtest::ReadFile;

const std::string Child = QB_FRAME_CHILD;

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> lines;
  std::istringstream in(Text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Splits "<length>:<text>" records.
std::vector<std::string> ParseBoxes(const std::string& Text) {
  std::vector<std::string> boxes;
  size_t pos = 0;
  while (pos < Text.size()) {
    size_t colon = Text.find(':', pos);
    if (colon == std::string::npos) break;
    size_t length = std::stoul(Text.substr(pos, colon - pos));
    boxes.push_back(Text.substr(colon + 1, length));
    pos = colon + 1 + length;
  }
  return boxes;
}

std::string Quoted(const std::string& Text) { return "\"" + Text + "\""; }

// The message of the child's "long" scenario.
std::string LongMessage() {
  std::string text;
  for (int i = 0; text.size() < 2600; ++i) {
    char piece[16];
    std::snprintf(piece, sizeof(piece), "<%04d>", i);
    text += piece;
  }
  return text.substr(0, 2600);
}

// Checks Report line by line against the report format with the given
// object line; the raising address must appear in the header and as the
// first address line.
void ExpectReport(const std::string& Report, const std::string& ObjectLine) {
  ASSERT_GE(Report.size(), 4u);
  EXPECT_EQ(Report.substr(Report.size() - 4), "\r\n\r\n") << Report;
  std::vector<std::string> lines;
  size_t pos = 0;
  for (size_t end; (end = Report.find("\r\n", pos)) != std::string::npos; pos = end + 2)
    lines.push_back(Report.substr(pos, end - pos));
  EXPECT_EQ(pos, Report.size()) << "text after the last line ending";
  ASSERT_GE(lines.size(), 4u) << Report;
  std::smatch header;
  ASSERT_TRUE(std::regex_match(lines[0], header,
                               std::regex("An unhandled exception occurred at \\$([0-9A-F]{16}):")))
      << lines[0];
  EXPECT_EQ(lines[1], ObjectLine);
  EXPECT_EQ(lines[2], "  $" + header[1].str());
  EXPECT_LE(lines.size(), 4u + 16u);
  for (size_t i = 3; i + 1 < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex("  \\$[0-9A-F]{16}"))) << lines[i];
  EXPECT_EQ(lines.back(), "");
}

class FrameTest : public ::testing::Test {
 protected:

  // Runs a scenario that records its events and boxes.
  int Run(const std::string& Scenario, const std::string& Extra = "") {
    return RunChild(Child, Scenario + " " + Quoted(Record) + (Extra.empty() ? "" : " " + Extra),
                    "");
  }
  std::vector<std::string> Events() { return Lines(ReadFile(Record)); }
  std::vector<std::string> Boxes() { return ParseBoxes(ReadFile(Record + ".boxes")); }

  qbtest::TScratchFolder Scratch;
  const std::string Record = Scratch.Path("events.txt");
};

}  // namespace

TEST_F(FrameTest, NormalRunShowsNothingAndEndsWithZero) {
  EXPECT_EQ(Run("ok"), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "init B", "init C", "main", "final C",
                                                 "final A"}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FrameTest, FailureRunsCleanupAndFinalisationsBeforeTheReportIsShown) {
  EXPECT_EQ(Run("raise"), 217);
  // The guard's clean-up runs while the failure unwinds, before the report;
  // finalisations run in reverse order (B has none); the box comes last.
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "init B", "init C", "main", "cleanup",
                                                 "final C", "final A", "box"}));
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectReport(boxes[0], "EProcess: Failed to execute \"nowhere\\quintabel.exe\" x : 2");
}

TEST_F(FrameTest, FailingInitialisationStopsStartUpAndFinalisesOnlyInitialisedModules) {
  EXPECT_EQ(Run("initfail"), 217);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "init F", "final A", "box"}));
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectReport(boxes[0], "EFOpenError: Unable to open file \"missing.dat\"");
}

TEST_F(FrameTest, LongReportArrivesInSeveralBoxesWithNothingLostOrRepeated) {
  EXPECT_EQ(Run("long"), 217);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].size(), 1024u);
  EXPECT_EQ(boxes[1].size(), 1024u);
  std::string report = boxes[0] + boxes[1] + boxes[2];
  ExpectReport(report, "EProcess: " + LongMessage());
}

TEST_F(FrameTest, ArgumentListReachesTheProgram) {
  // Quotes group words and are dropped, doubled quotes vanish, a word of
  // only quotes is an empty argument, backslashes stay as they are.
  EXPECT_EQ(Run("args", "\"a  b\" \"\"\"\" c\\\"d e\\\" x\"\"y"), 0);
  std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 9u) << ReadFile(Record);
  EXPECT_EQ(events[0], "count 6");
  EXPECT_TRUE(std::regex_match(events[1], std::regex("arg 0 \\[.*frame_child(\\.exe)?\\]")))
      << events[1];
  EXPECT_EQ(events[2], "arg 1 [args]");
  EXPECT_EQ(events[3], "arg 2 [" + Record + "]");
  EXPECT_EQ(events[4], "arg 3 [a  b]");
  EXPECT_EQ(events[5], "arg 4 []");
  EXPECT_EQ(events[6], "arg 5 [c\\d e\\]");
  EXPECT_EQ(events[7], "arg 6 [xy]");
  EXPECT_EQ(events[8], "first [args]");
}

TEST_F(FrameTest, ArgumentsOutsideAsciiArriveAsUtf8) {
  EXPECT_EQ(Run("args", "\"Données 日本語\" ü"), 0);
  std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 7u) << ReadFile(Record);
  EXPECT_EQ(events[4], "arg 3 [Données 日本語]");
  EXPECT_EQ(events[5], "arg 4 [ü]");
}

TEST_F(FrameTest, ControlCharactersSeparateArguments) {
  EXPECT_EQ(Run("args", "one\ttwo"), 0);
  std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 7u) << ReadFile(Record);
  EXPECT_EQ(events[0], "count 4");
  EXPECT_EQ(events[4], "arg 3 [one]");
  EXPECT_EQ(events[5], "arg 4 [two]");
}

TEST_F(FrameTest, OutOfMemoryIsReportedAsEOutOfMemory) {
  EXPECT_EQ(Run("badalloc"), 217);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectReport(boxes[0], "EOutOfMemory: Out of memory");
}

TEST_F(FrameTest, ForeignObjectIsNamedInTheReport) {
  EXPECT_EQ(Run("foreign"), 217);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectReport(boxes[0], "Exception object std::runtime_error is not of class Exception.");
}

TEST_F(FrameTest, ForeignValueIsNamedInTheReport) {
  EXPECT_EQ(Run("foreignint"), 217);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectReport(boxes[0], "Exception object int is not of class Exception.");
}

TEST_F(FrameTest, TextWrittenToTheChannelsIsShownAtExit) {
  EXPECT_EQ(Run("output"), 0);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "first line\r\nsecond line\r\nunfinished");
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
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectReport(boxes[0], "EAccessViolation: Access violation");
}

TEST_F(FrameTest, FaultEndsWithoutTouchingTheCLibrarysStreams) {
#ifdef QB_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer handles segmentation faults itself";
#endif
  // The fault handler runs only async-signal-safe calls: a stream whose
  // state the fault may have interrupted is not flushed on the way out.
  EXPECT_EQ(Run("faultbuffered"), 217);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "main", "box"}));
  ASSERT_TRUE(qbtest::fsys::exists(qbtest::U8(Record + ".buffered")));
  EXPECT_EQ(ReadFile(Record + ".buffered"), "");
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectReport(boxes[0], "EAccessViolation: Access violation");
}

TEST_F(FrameTest, IntegerDivisionByZeroIsReportedAsEDivByZero) {
#ifdef QB_UNDER_ASAN
  GTEST_SKIP() << "the sanitizers handle divisions by zero themselves";
#endif
  EXPECT_EQ(Run("divzero"), 217);
  EXPECT_EQ(Events(), (std::vector<std::string>{"init A", "main", "box"}));
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  ExpectReport(boxes[0], "EDivByZero: Division by zero");
}

// POSIX shows a box as the caption line "Error" and the text on standard
// error; these read it there. (Windows' real boxes are checked by
// message_box_relay_test.)
class RealBoxTest : public FrameTest {
 protected:
  // Runs with the platform's boxes; gives the exit code, stderr in StdErr.
  int RunReal(const std::string& Scenario) {
    std::string errFile = Scratch.Path("stderr.txt");
    int code = RunChild(Child, Scenario + " -", errFile);
    StdErr = ReadFile(errFile);
    return code;
  }
  // Takes the boxes apart: each is "Error\n" and its text, plus "\n" when
  // the text does not end a line; every box but the last holds 1,024
  // characters.
  std::vector<std::string> SplitBoxes() {
    std::vector<std::string> boxes;
    size_t pos = 0;
    while (pos < StdErr.size()) {
      EXPECT_EQ(StdErr.compare(pos, 6, "Error\n"), 0) << "no caption at " << pos;
      pos += 6;
      size_t rest = StdErr.size() - pos;
      if (rest <= 1024) {
        boxes.push_back(StdErr.substr(pos));
        break;
      }
      boxes.push_back(StdErr.substr(pos, 1024));
      pos += 1024;
      if (boxes.back().back() != '\n') {
        EXPECT_EQ(StdErr.compare(pos, 1, "\n"), 0) << "no line end after the box at " << pos;
        pos += 1;
      }
    }
    return boxes;
  }
  std::string StdErr;
};

TEST_F(RealBoxTest, NormalRunWritesNothing) {
  if (!BoxesOnStdErr()) GTEST_SKIP() << "boxes are message boxes here";
  EXPECT_EQ(RunReal("ok"), 0);
  EXPECT_EQ(StdErr, "");
}

TEST_F(RealBoxTest, ReportUnderCaptionOnStandardError) {
  if (!BoxesOnStdErr()) GTEST_SKIP() << "boxes are message boxes here";
  EXPECT_EQ(RunReal("raise"), 217);
  ASSERT_EQ(StdErr.compare(0, 6, "Error\n"), 0) << StdErr;
  ExpectReport(StdErr.substr(6), "EProcess: Failed to execute \"nowhere\\quintabel.exe\" x : 2");
}

TEST_F(RealBoxTest, LongReportInSeveralCaptionedBoxes) {
  if (!BoxesOnStdErr()) GTEST_SKIP() << "boxes are message boxes here";
  EXPECT_EQ(RunReal("long"), 217);
  std::vector<std::string> boxes = SplitBoxes();
  ASSERT_EQ(boxes.size(), 3u) << StdErr;
  EXPECT_EQ(boxes[0].size(), 1024u);
  EXPECT_EQ(boxes[1].size(), 1024u);
  ExpectReport(boxes[0] + boxes[1] + boxes[2], "EProcess: " + LongMessage());
}

TEST_F(RealBoxTest, FaultReportOnStandardError) {
#ifdef QB_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer handles segmentation faults itself";
#endif
  if (!BoxesOnStdErr()) GTEST_SKIP() << "boxes are message boxes here";
  EXPECT_EQ(RunReal("fault"), 217);
  ASSERT_EQ(StdErr.compare(0, 6, "Error\n"), 0) << StdErr;
  ExpectReport(StdErr.substr(6), "EAccessViolation: Access violation");
}
