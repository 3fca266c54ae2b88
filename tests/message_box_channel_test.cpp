#include "runtime/message_box_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Boxes;
bool TextWasTerminated = true;

void RecordBox(const char* Text, size_t Length) {
  if (std::strlen(Text) != Length) TextWasTerminated = false;
  Boxes.emplace_back(Text, Length);
}

std::string Numbered(size_t Length) {
  std::string text;
  for (int i = 0; text.size() < Length; ++i) text += "<" + std::to_string(i) + ">";
  return text.substr(0, Length);
}

std::string Joined() {
  std::string all;
  for (const std::string& box : Boxes) all += box;
  return all;
}

class MessageBoxBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Boxes.clear();
    TextWasTerminated = true;
  }
  TMessageBoxBuffer Buffer{RecordBox};
};

}  // namespace

TEST_F(MessageBoxBufferTest, ShortTextWaitsInTheBuffer) {
  Buffer.Append("abc\r\n", 5);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(Buffer.Fill(), 5u);
  EXPECT_STREQ(Buffer.Text(), "abc\r\n");
}

TEST_F(MessageBoxBufferTest, ShowAndEmptyShowsHeldText) {
  Buffer.Append("abc", 3);
  Buffer.ShowAndEmpty();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "abc");
  EXPECT_EQ(Buffer.Fill(), 0u);
  Buffer.ShowAndEmpty();  // nothing held: no box
  EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(MessageBoxBufferTest, FullBufferIsShownAtOnce) {
  std::string text = Numbered(1024);
  Buffer.Append(text.data(), text.size());
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], text);
  EXPECT_EQ(Buffer.Fill(), 0u);
}

TEST_F(MessageBoxBufferTest, OneLessThanFullIsNotShown) {
  std::string text = Numbered(1023);
  Buffer.Append(text.data(), text.size());
  EXPECT_TRUE(Boxes.empty());
  Buffer.Append("x", 1);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], text + "x");
}

TEST_F(MessageBoxBufferTest, RestOfALineContinuesInTheEmptiedBuffer) {
  std::string first = Numbered(1000);
  std::string second(100, 'y');
  Buffer.Append(first.data(), first.size());
  Buffer.Append(second.data(), second.size());
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], first + std::string(24, 'y'));
  EXPECT_EQ(Buffer.Fill(), 76u);
  EXPECT_EQ(std::string(Buffer.Text()), std::string(76, 'y'));
}

TEST_F(MessageBoxBufferTest, LongTextArrivesInOrderWithNothingLostOrRepeated) {
  std::string text = Numbered(3000);
  Buffer.Append(text.data(), text.size());
  Buffer.ShowAndEmpty();
  ASSERT_EQ(Boxes.size(), 3u);
  EXPECT_EQ(Boxes[0].size(), 1024u);
  EXPECT_EQ(Boxes[1].size(), 1024u);
  EXPECT_EQ(Boxes[2].size(), 3000u - 2048u);
  EXPECT_EQ(Joined(), text);
  EXPECT_TRUE(TextWasTerminated);
}

TEST_F(MessageBoxBufferTest, CharacterCutByTheBufferEndMovesWholeIntoTheNextBox) {
  // "日" is three bytes, "é" two, the emoji four: each starts one, two or
  // three bytes before the end of the first box.
  for (const std::string& Character : {std::string("\xE6\x97\xA5"), std::string("\xC3\xA9"),
                                      std::string("\xF0\x9F\x98\x80")}) {
    for (size_t Before = 1; Before < Character.size(); ++Before) {
      SCOPED_TRACE(Character.size() * 10 + Before);
      Boxes.clear();
      const std::string Text = std::string(MessageBoxBufferSize - Before, 'a') + Character + "z";
      Buffer.Append(Text.data(), Text.size());
      Buffer.ShowAndEmpty();
      ASSERT_EQ(Boxes.size(), 2u);
      EXPECT_EQ(Boxes[0], std::string(MessageBoxBufferSize - Before, 'a'));
      EXPECT_EQ(Boxes[1], Character + "z");
    }
  }
  EXPECT_TRUE(TextWasTerminated);
}

TEST_F(MessageBoxBufferTest, WholeCharacterAtTheBufferEndStaysInItsBox) {
  const std::string Text = std::string(MessageBoxBufferSize - 3, 'a') + "\xE6\x97\xA5" + "z";
  Buffer.Append(Text.data(), Text.size());
  Buffer.ShowAndEmpty();
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].size(), MessageBoxBufferSize);
  EXPECT_EQ(Boxes[1], "z");
  // Bytes that are no UTF-8 are split where the buffer ends.
  Boxes.clear();
  const std::string Raw = std::string(MessageBoxBufferSize - 1, 'a') + "\xFF\xFE";
  Buffer.Append(Raw.data(), Raw.size());
  Buffer.ShowAndEmpty();
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].size(), MessageBoxBufferSize);
  EXPECT_EQ(Boxes[1], "\xFE");
}

TEST_F(MessageBoxBufferTest, ManyLinesAcrossSeveralBoxes) {
  std::string all;
  for (int i = 0; i < 300; ++i) {
    std::string line = "line " + std::to_string(i) + "\r\n";
    Buffer.Append(line.data(), line.size());
    all += line;
  }
  Buffer.ShowAndEmpty();
  ASSERT_GE(Boxes.size(), 3u);
  for (size_t i = 0; i + 1 < Boxes.size(); ++i) EXPECT_EQ(Boxes[i].size(), 1024u);
  EXPECT_EQ(Joined(), all);
}

TEST_F(MessageBoxBufferTest, ChannelAppendsOnlyCompleteLines) {
  TMessageBoxChannel channel(Buffer);
  channel.Write("abc");
  EXPECT_EQ(Buffer.Fill(), 0u);
  channel.Write("def\r\nghi");
  EXPECT_STREQ(Buffer.Text(), "abcdef\r\n");
  channel.Flush();
  EXPECT_STREQ(Buffer.Text(), "abcdef\r\nghi");
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(MessageBoxBufferTest, ClosingAChannelShowsItsText) {
  TMessageBoxChannel channel(Buffer);
  channel.Write("one\r\ntwo");
  channel.Close();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "one\r\ntwo");
  EXPECT_FALSE(channel.IsOpen());
  channel.Write("late\r\n");  // ignored once closed
  channel.Close();
  EXPECT_EQ(Buffer.Fill(), 0u);
  EXPECT_EQ(Boxes.size(), 1u);
  channel.Reopen();
  channel.Write("again\n");
  EXPECT_STREQ(Buffer.Text(), "again\n");
}

TEST_F(MessageBoxBufferTest, ClosingAnEmptyChannelShowsNothing) {
  TMessageBoxChannel channel(Buffer);
  channel.Close();
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(MessageBoxBufferTest, TwoChannelsShareOneBufferLineByLine) {
  TMessageBoxChannel out(Buffer);
  TMessageBoxChannel err(Buffer);
  out.Write("o1\n");
  err.Write("e1\n");
  out.Write("o2 begins ");
  err.Write("e2\n");  // a line of the other channel does not split o2
  out.Write("and ends\n");
  EXPECT_STREQ(Buffer.Text(), "o1\ne1\ne2\no2 begins and ends\n");
  err.Close();  // shows the shared text
  ASSERT_EQ(Boxes.size(), 1u);
  out.Close();  // nothing left
  EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(MessageBoxBufferTest, LongLineThroughAChannel) {
  TMessageBoxChannel channel(Buffer);
  std::string line = Numbered(2500) + "\r\n";
  channel.Write(line);
  EXPECT_EQ(Boxes.size(), 2u);
  channel.Close();
  ASSERT_EQ(Boxes.size(), 3u);
  EXPECT_EQ(Joined(), line);
}

TEST(SharedMessageBoxBuffer, SinkReplacesThePlatformBox) {
  Boxes.clear();
  SetMessageBoxSink(RecordBox);
  TMessageBoxBuffer& shared = SharedMessageBoxBuffer();
  shared.Append("shared\r\n", 8);
  shared.ShowAndEmpty();
  SetMessageBoxSink(nullptr);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "shared\r\n");
}
