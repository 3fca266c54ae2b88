// The demo application's line format and its Prolog output.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bundle/demo_app/dictionary.h"

TEST(DemoParsePairs, WordTranslationLines) {
  const std::pair<std::string, std::vector<TPair>> Cases[] = {
      {"chat;cat\nchien;dog\n", {{"chat", "cat"}, {"chien", "dog"}}},
      // A byte order mark, carriage returns and empty lines are ignored.
      {"\xEF\xBB\xBF\xC3\xA9t\xC3\xA9;summer\r\n\r\n\nlast;line", {{"\xC3\xA9t\xC3\xA9", "summer"}, {"last", "line"}}},
      // Only the first semicolon splits.
      {"a;b;c\nalone\nempty;\n", {{"a", "b;c"}, {"alone", ""}, {"empty", ""}}},
  };
  for (const auto& [Text, Pairs] : Cases) EXPECT_EQ(ParsePairs(Text), Pairs) << Text;
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
