// The demo application's line format and its Prolog output.
#include <gtest/gtest.h>

#include "bundle/demo_app/dictionary.h"

TEST(DemoParsePairs, ReadsWordTranslationLines) {
  const auto Pairs = ParsePairs("chat;cat\nchien;dog\n");
  ASSERT_EQ(Pairs.size(), 2u);
  EXPECT_EQ(Pairs[0], TPair("chat", "cat"));
  EXPECT_EQ(Pairs[1], TPair("chien", "dog"));
}

TEST(DemoParsePairs, IgnoresByteOrderMarkCarriageReturnsAndEmptyLines) {
  const auto Pairs = ParsePairs(
      "\xEF\xBB\xBF"
      "\xC3\xA9t\xC3\xA9;summer\r\n\r\n\nlast;line");
  ASSERT_EQ(Pairs.size(), 2u);
  EXPECT_EQ(Pairs[0], TPair("\xC3\xA9t\xC3\xA9", "summer"));
  EXPECT_EQ(Pairs[1], TPair("last", "line"));
}

TEST(DemoParsePairs, SplitsAtTheFirstSemicolonOnly) {
  const auto Pairs = ParsePairs("a;b;c\nalone\nempty;\n");
  ASSERT_EQ(Pairs.size(), 3u);
  EXPECT_EQ(Pairs[0], TPair("a", "b;c"));
  EXPECT_EQ(Pairs[1], TPair("alone", ""));
  EXPECT_EQ(Pairs[2], TPair("empty", ""));
}

TEST(DemoPrologAtom, QuotesAndEscapesAsPrologReadsBack) {
  EXPECT_EQ(QuotePrologAtom("plain"), "'plain'");
  EXPECT_EQ(QuotePrologAtom(""), "''");
  EXPECT_EQ(QuotePrologAtom("l'\xC3\xA9"
                            "cole"),
            "'l\\'\xC3\xA9"
            "cole'");
  EXPECT_EQ(QuotePrologAtom("c:\\temp"), "'c:\\\\temp'");
  EXPECT_EQ(QuotePrologAtom("two\nlines\ttab\rcr"), "'two\\nlines\\ttab\\rcr'");
  EXPECT_EQ(QuotePrologAtom(std::string("nul\0bell\x07", 9)), "'nul\\x0\\bell\\x7\\'");
  EXPECT_EQ(QuotePrologAtom("\"double\""), "'\"double\"'");
}

TEST(DemoPrologAtom, FactHasBothAtomsQuoted) {
  EXPECT_EQ(TradDynFact({"l'eau", "water"}), "trad_dyn('l\\'eau', 'water').");
}
