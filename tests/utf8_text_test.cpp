// UTF-8 text: what is well-formed, and the round trip through UTF-16.
#include "zip/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(Utf8Text, Validity) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain/ascii.txt"));
  EXPECT_TRUE(IsValidUtf8("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("\x82"));
  EXPECT_FALSE(IsValidUtf8("\xc3"));              // cut short
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xe0\x80\xaf"));      // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xc3\x28"));
}

TEST(Utf8Text, Utf8ToUtf16OutsideTheBasicPlane) {
  const std::string Text = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";  // é, €, an emoji
  const std::u16string Wide = Utf8ToUtf16(Text);
  EXPECT_EQ(Wide, std::u16string(u"Caf\u00E9 \u20AC \U0001F600"));
  // Bytes that are no UTF-8 become U+FFFD, one each, and the rest survives.
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b\xC3"),
            std::u16string(u"a\uFFFDb\uFFFD"));
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\xAF"), std::u16string(u"\uFFFD\uFFFD\uFFFD"));  // overlong
}
