// Path text: the same Windows-style results on every host, whichever of
// "\" and "/" a path uses; only an added separator follows the platform.
#include "fs/path_text.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/reserved_names.h"

namespace {
const std::string Sep(1, PathSeparator);
}

TEST(PathSeparators, BothSlashesCountAndNothingElse) {
  EXPECT_TRUE(IsSeparator('\\'));
  EXPECT_TRUE(IsSeparator('/'));
  EXPECT_FALSE(IsSeparator(':'));
  EXPECT_FALSE(IsSeparator('a'));
  EXPECT_FALSE(IsSeparator('\0'));
}

TEST(PathSeparators, NormalizeWritesTheSystemSeparatorEverywhere) {
  EXPECT_EQ(NormalizeSeparators("C:\\a/b\\\\c/"), "C:" + Sep + "a" + Sep + "b" + Sep + Sep + "c" + Sep);
  EXPECT_EQ(NormalizeSeparators("name"), "name");
  EXPECT_EQ(NormalizeSeparators(""), "");
}

TEST(PathSeparators, LongPathPrefixIsExactlyBackslashBackslashQuestionBackslash) {
  EXPECT_TRUE(HasLongPathPrefix("\\\\?\\C:\\y\\"));
  EXPECT_FALSE(HasLongPathPrefix("//?/C:/y/"));
  EXPECT_FALSE(HasLongPathPrefix("\\\\?"));
  EXPECT_FALSE(HasLongPathPrefix("\\\\server\\share"));
}

TEST(TrailingSeparator, IncludeAddsOneOnlyWhenMissing) {
  EXPECT_EQ(IncludeTrailingSeparator("C:\\a"), "C:\\a" + Sep);
  EXPECT_EQ(IncludeTrailingSeparator("C:\\a\\"), "C:\\a\\");
  EXPECT_EQ(IncludeTrailingSeparator("C:/a/"), "C:/a/");
  EXPECT_EQ(IncludeTrailingSeparator("C:"), "C:" + Sep);
  EXPECT_EQ(IncludeTrailingSeparator(""), Sep);
}

TEST(TrailingSeparator, ExcludeRemovesExactlyOne) {
  EXPECT_EQ(ExcludeTrailingSeparator("C:\\a\\"), "C:\\a");
  EXPECT_EQ(ExcludeTrailingSeparator("C:\\a//"), "C:\\a/");
  EXPECT_EQ(ExcludeTrailingSeparator("a/"), "a");
  EXPECT_EQ(ExcludeTrailingSeparator("C:\\a"), "C:\\a");
  EXPECT_EQ(ExcludeTrailingSeparator("\\"), "");
  EXPECT_EQ(ExcludeTrailingSeparator(""), "");
}

TEST(FolderAndNameParts, SplitAtTheLastSeparatorOrColon) {
  EXPECT_EQ(ExtractFolderPart("C:\\a\\b.txt"), "C:\\a\\");
  EXPECT_EQ(ExtractNamePart("C:\\a\\b.txt"), "b.txt");
  EXPECT_EQ(ExtractFolderPart("a/b\\c"), "a/b\\");
  EXPECT_EQ(ExtractNamePart("a\\b/c"), "c");
  EXPECT_EQ(ExtractFolderPart("C:b.txt"), "C:");
  EXPECT_EQ(ExtractNamePart("C:b.txt"), "b.txt");
  EXPECT_EQ(ExtractFolderPart("dir\\"), "dir\\");
  EXPECT_EQ(ExtractNamePart("dir\\"), "");
}

TEST(FolderAndNameParts, PathWithoutDelimiterIsAllName) {
  EXPECT_EQ(ExtractFolderPart("name.ext"), "");
  EXPECT_EQ(ExtractNamePart("name.ext"), "name.ext");
  EXPECT_EQ(ExtractFolderPart(""), "");
  EXPECT_EQ(ExtractNamePart(""), "");
}

TEST(FolderAndNameParts, NamesOutsideAsciiStayWhole) {
  const std::string Path =
      "C:\\Donn\xC3\xA9"
      "es\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xC3\xBC.txt";
  EXPECT_EQ(ExtractNamePart(Path), "\xC3\xBC.txt");
  EXPECT_EQ(ExtractFolderPart(Path),
            "C:\\Donn\xC3\xA9"
            "es\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/");
}

TEST(DrivePart, DriveLetterGivesTwoCharacters) {
  EXPECT_EQ(ExtractDrivePart("C:\\x\\y"), "C:");
  EXPECT_EQ(ExtractDrivePart("C:"), "C:");
  EXPECT_EQ(ExtractDrivePart("d:rel"), "d:");
}

TEST(DrivePart, NetworkShareEndsBeforeTheSeparatorAfterTheShareName) {
  EXPECT_EQ(ExtractDrivePart("\\\\server\\share\\x"), "\\\\server\\share");
  EXPECT_EQ(ExtractDrivePart("//server/share/x/y"), "//server/share");
  EXPECT_EQ(ExtractDrivePart("\\/server/share\\x"), "\\/server/share");
  EXPECT_EQ(ExtractDrivePart("\\\\server\\share"), "\\\\server\\share");
  EXPECT_EQ(ExtractDrivePart("\\\\server"), "\\\\server");
}

TEST(DrivePart, OtherPathsHaveNone) {
  EXPECT_EQ(ExtractDrivePart("\\a\\b"), "");
  EXPECT_EQ(ExtractDrivePart("/usr/lib"), "");
  EXPECT_EQ(ExtractDrivePart("relative\\x"), "");
  EXPECT_EQ(ExtractDrivePart("ab:c"), "");
  EXPECT_EQ(ExtractDrivePart("C"), "");
  EXPECT_EQ(ExtractDrivePart(""), "");
}

TEST(CleanPath, RunsOfSeparatorsBecomeOne) {
  EXPECT_EQ(CleanPath("C:\\a\\\\b"), "C:\\a\\b");
  EXPECT_EQ(CleanPath("C:\\\\\\a\\b\\\\"), "C:\\a\\b\\");
  EXPECT_EQ(CleanPath("/a//b///c"), "/a/b/c");
}

TEST(CleanPath, NetworkPathKeepsItsTwoLeadingSeparators) {
  EXPECT_EQ(CleanPath("\\\\srv\\s"), "\\\\srv\\s");
  EXPECT_EQ(CleanPath("\\\\\\\\srv\\\\s"), "\\\\srv\\s");
  EXPECT_EQ(CleanPath("\\\\srv\\s\\..\\.."), "\\\\");
}

TEST(CleanPath, SingleDotsAreDropped) {
  EXPECT_EQ(CleanPath("C:\\a\\.\\b"), "C:\\a\\b");
  EXPECT_EQ(CleanPath(".\\a"), "a");
  EXPECT_EQ(CleanPath("C:\\a\\."), "C:\\a\\");
  EXPECT_EQ(CleanPath("C:\\."), "C:\\");
  EXPECT_EQ(CleanPath("."), ".");
  EXPECT_EQ(CleanPath("a/./././b"), "a/b");
}

TEST(CleanPath, DoubleDotsRemoveTheSegmentBefore) {
  EXPECT_EQ(CleanPath("C:\\a\\b\\..\\c"), "C:\\a\\c");
  EXPECT_EQ(CleanPath("C:\\a\\b\\.."), "C:\\a\\");
  EXPECT_EQ(CleanPath("C:\\x\\..\\y\\"), "C:\\y\\");
  EXPECT_EQ(CleanPath("C:\\a\\b\\c\\..\\..\\d"), "C:\\a\\d");
  EXPECT_EQ(CleanPath("a\\..\\b"), "b");
  EXPECT_EQ(CleanPath("a\\b\\..\\..\\c"), "c");
  EXPECT_EQ(CleanPath("a\\.."), ".");
  EXPECT_EQ(CleanPath("a\\..\\"), ".");
}

TEST(CleanPath, DoubleDotsAfterARootAreDropped) {
  EXPECT_EQ(CleanPath("C:\\.."), "C:\\");
  EXPECT_EQ(CleanPath("C:\\..\\..\\a"), "C:\\a");
  EXPECT_EQ(CleanPath("\\..\\a"), "\\a");
  EXPECT_EQ(CleanPath("/../etc"), "/etc");
}

TEST(CleanPath, LeadingDoubleDotsStay) {
  EXPECT_EQ(CleanPath("..\\a"), "..\\a");
  EXPECT_EQ(CleanPath("..\\..\\x"), "..\\..\\x");
  EXPECT_EQ(CleanPath("a\\..\\..\\b"), "..\\b");
  EXPECT_EQ(CleanPath(".."), "..");
}

TEST(CleanPath, DoubleDotsAfterAVariableStay) {
  EXPECT_EQ(CleanPath("C:\\a\\$(X)\\..\\b"), "C:\\a\\$(X)\\..\\b");
  EXPECT_EQ(CleanPath("C:\\a\\pre$Name\\..\\b"), "C:\\a\\pre$Name\\..\\b");
  EXPECT_EQ(CleanPath("C:\\$(X)\\..\\..\\b"), "C:\\$(X)\\..\\..\\b");
  // "$" followed by a digit or at the end is no variable.
  EXPECT_EQ(CleanPath("C:\\a\\$1\\..\\b"), "C:\\a\\b");
  EXPECT_EQ(CleanPath("C:\\a\\x$\\..\\b"), "C:\\a\\b");
}

TEST(CleanPath, NamesThatBeginWithDotsAreCopied) {
  EXPECT_EQ(CleanPath("C:\\a\\.b"), "C:\\a\\.b");
  EXPECT_EQ(CleanPath("C:\\a\\..b"), "C:\\a\\..b");
  EXPECT_EQ(CleanPath("C:\\a\\...\\c"), "C:\\a\\...\\c");
  EXPECT_EQ(CleanPath(".cfg"), ".cfg");
}

TEST(CleanPath, LongPathPrefixLeavesThePathUntouched) {
  EXPECT_EQ(CleanPath("\\\\?\\C:\\a\\..\\b\\\\c"), "\\\\?\\C:\\a\\..\\b\\\\c");
}

TEST(CleanPath, NamesOutsideAsciiSurvive) {
  EXPECT_EQ(CleanPath("C:\\Donn\xC3\xA9"
                      "es\\x\\..\\\xC3\xBC.txt"),
            "C:\\Donn\xC3\xA9"
            "es\\\xC3\xBC.txt");
}

// ---------------------------------------------------------------------------
// Device names

TEST(DeviceNames, WindowsFormsInAnyCaseWithExtensionsAndTrailingDotsOrSpaces) {
  for (const char* Name :
       {"CON",    "con",     "Prn",      "aux",    "NUL",         "nul.txt",         "Com1.tar.gz", "COM0",
        "com9",   "LPT0",    "lpt5.x",   "CONIN$", "conout$",     "Conout$.log",     "nul.",        "nul...",
        "nul   ", "nul . .", "con .txt", "nul:x",  "COM\xc2\xb9", "lpt\xc2\xb2.txt", "com\xc2\xb3"}) {
    EXPECT_TRUE(HasWindowsDeviceForm(Name)) << Name;
  }
}

TEST(DeviceNames, OtherNamesAreNotDevices) {
  for (const char* Name :
       {"", "CO", "console", "nul_", "xnul", "nulx.txt", "com", "com10", "lpt", "comx", "conin", "conout", "con$",
        "COM\xc2\xb4", "COM\xc2", "LPT\xc2\xb9\xc2\xb9", ".nul", "a.nul", "cons.txt"}) {
    EXPECT_FALSE(HasWindowsDeviceForm(Name)) << Name;
  }
}

TEST(DeviceNames, ReservedOnlyOnWindows) {
#ifdef _WIN32
  EXPECT_TRUE(IsReservedName("nul.txt"));
  EXPECT_TRUE(IsReservedName("COM1"));
#else
  EXPECT_FALSE(IsReservedName("nul.txt"));
  EXPECT_FALSE(IsReservedName("COM1"));
#endif
  EXPECT_FALSE(IsReservedName("file.txt"));
}
