#include "runtime/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Words = std::vector<std::string>;

TEST(SplitProgramArguments, EmptyOrBlankCommandLineHasNoWords) {
  EXPECT_EQ(SplitProgramArguments(""), Words{});
  EXPECT_EQ(SplitProgramArguments("   \t\r\n"), Words{});
}

TEST(SplitProgramArguments, SpacesSeparateWordsAndAreSkipped) {
  EXPECT_EQ(SplitProgramArguments("prog"), (Words{"prog"}));
  EXPECT_EQ(SplitProgramArguments("  prog   one  two  "), (Words{"prog", "one", "two"}));
}

TEST(SplitProgramArguments, EveryCodeFromOneTo32Separates) {
  EXPECT_EQ(SplitProgramArguments(std::string("prog\x01"
                                              "a\tb\r\nc\x1f"
                                              "d\x20"
                                              "e")),
            (Words{"prog", "a", "b", "c", "d", "e"}));
}

TEST(SplitProgramArguments, CodesAbove32AreOrdinary) {
  // '!' (33), DEL (127) and the bytes of UTF-8 text belong to the word.
  EXPECT_EQ(SplitProgramArguments("prog !a\x7f\xc3\xa9"), (Words{"prog", "!a\x7f\xc3\xa9"}));
}

TEST(SplitProgramArguments, QuotedStretchKeepsSpacesAndDropsQuotes) {
  EXPECT_EQ(SplitProgramArguments("prog \"a b\" c"), (Words{"prog", "a b", "c"}));
  EXPECT_EQ(SplitProgramArguments("\"C:\\Program Files\\app.exe\" x"), (Words{"C:\\Program Files\\app.exe", "x"}));
  // A quoted stretch may sit in the middle of a word.
  EXPECT_EQ(SplitProgramArguments("prog a\"b c\"d"), (Words{"prog", "ab cd"}));
  // Control characters inside a quoted stretch are kept too.
  EXPECT_EQ(SplitProgramArguments("prog \"a\tb\""), (Words{"prog", "a\tb"}));
}

TEST(SplitProgramArguments, UnclosedQuoteRunsToTheEnd) {
  EXPECT_EQ(SplitProgramArguments("prog \"a b"), (Words{"prog", "a b"}));
}

TEST(SplitProgramArguments, DoubledQuotesAreDroppedAndChangeNothing) {
  EXPECT_EQ(SplitProgramArguments("prog a\"\"b"), (Words{"prog", "ab"}));
  // Inside a quoted stretch the stretch goes on after the pair.
  EXPECT_EQ(SplitProgramArguments("prog \"a \"\" b\" c"), (Words{"prog", "a  b", "c"}));
  // Three quotes: the pair goes, the third opens a stretch.
  EXPECT_EQ(SplitProgramArguments("prog \"\"\"a b\"\"\""), (Words{"prog", "a b"}));
}

TEST(SplitProgramArguments, WordOfOnlyQuotesIsEmptyWord) {
  EXPECT_EQ(SplitProgramArguments("prog \"\""), (Words{"prog", ""}));
  EXPECT_EQ(SplitProgramArguments("prog \"\"\"\" x"), (Words{"prog", "", "x"}));
  EXPECT_EQ(SplitProgramArguments("prog \"\"\""), (Words{"prog", ""}));
}

TEST(SplitProgramArguments, BackslashIsOrdinary) {
  // A backslash neither escapes a quote nor is itself changed.
  EXPECT_EQ(SplitProgramArguments("prog a\\\"b c\\\""), (Words{"prog", "a\\b c\\"}));
  EXPECT_EQ(SplitProgramArguments("prog \\\\server\\share\\"), (Words{"prog", "\\\\server\\share\\"}));
}

TEST(SplitProgramArguments, NulEndsTheCommandLine) {
  EXPECT_EQ(SplitProgramArguments(std::string("prog a\0b", 8)), (Words{"prog", "a"}));
}

class ArgumentListTest : public ::testing::Test {
 protected:
  void TearDown() override { SetArgumentList({}); }
};

TEST_F(ArgumentListTest, EntriesAndCount) {
  SetArgumentList({"/bin/prog", "first", "second"});
  EXPECT_EQ(ParamCount(), 2);
  EXPECT_EQ(ParamStr(0), "/bin/prog");
  EXPECT_EQ(ParamStr(1), "first");
  EXPECT_EQ(ParamStr(2), "second");
  EXPECT_EQ(FirstArgument(), "first");
}

TEST_F(ArgumentListTest, OutsideTheListIsEmptyText) {
  SetArgumentList({"/bin/prog", "first"});
  EXPECT_EQ(ParamStr(2), "");
  EXPECT_EQ(ParamStr(-1), "");
}

TEST_F(ArgumentListTest, NoSecondWordGivesEmptyFirstArgument) {
  std::vector<std::string> Words = SplitProgramArguments("prog");
  SetArgumentList({"/bin/prog"});
  EXPECT_EQ(Words.size(), 1u);
  EXPECT_EQ(ParamCount(), 0);
  EXPECT_EQ(FirstArgument(), "");
}

TEST_F(ArgumentListTest, EmptyQuotedFirstArgumentCountsAsArgument) {
  std::vector<std::string> Words = SplitProgramArguments("prog \"\" second");
  Words[0] = "/bin/prog";
  SetArgumentList(Words);
  EXPECT_EQ(ParamCount(), 2);
  EXPECT_EQ(FirstArgument(), "");
  EXPECT_EQ(ParamStr(2), "second");
}

TEST_F(ArgumentListTest, EmptyListBeforeStartUp) {
  EXPECT_EQ(ParamCount(), 0);
  EXPECT_EQ(ParamStr(0), "");
  EXPECT_EQ(FirstArgument(), "");
}

TEST(ReadArgumentList, EntryZeroIsThisProgram) {
  char Name[] = "some-other-name";
  char* Argv[] = {Name, nullptr};
  std::vector<std::string> List = ReadArgumentList(1, Argv);
  ASSERT_FALSE(List.empty());
  EXPECT_NE(List[0].find("arguments_test"), std::string::npos) << List[0];
}
