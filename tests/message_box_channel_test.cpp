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
  std::string Text;
  for (int I = 0; Text.size() < Length; ++I) Text += "<" + std::to_string(I) + ">";
  return Text.substr(0, Length);
}

std::string Joined() {
  std::string All;
  for (const std::string& Box : Boxes) All += Box;
  return All;
}

class MessageBoxBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Boxes.clear();
    TextWasTerminated = true;
  }
  void Append(const std::string& Text) { FBuffer.Append(Text.data(), Text.size()); }
  TMessageBoxBuffer FBuffer{RecordBox};
};

}  // namespace

TEST_F(MessageBoxBufferTest, ShortTextWaitsInTheBuffer) {
  FBuffer.Append("abc\r\n", 5);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(FBuffer.Fill(), 5u);
  EXPECT_STREQ(FBuffer.Text(), "abc\r\n");
}

TEST_F(MessageBoxBufferTest, ShowAndEmptyShowsHeldText) {
  FBuffer.Append("abc", 3);
  FBuffer.ShowAndEmpty();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "abc");
  EXPECT_EQ(FBuffer.Fill(), 0u);
  FBuffer.ShowAndEmpty();  // nothing held: no box
  EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(MessageBoxBufferTest, FullBufferIsShownAtOnce) {
  std::string Text = Numbered(1024);
  Append(Text);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], Text);
  EXPECT_EQ(FBuffer.Fill(), 0u);
}

TEST_F(MessageBoxBufferTest, OneLessThanFullIsNotShown) {
  std::string Text = Numbered(1023);
  Append(Text);
  EXPECT_TRUE(Boxes.empty());
  FBuffer.Append("x", 1);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], Text + "x");
}

TEST_F(MessageBoxBufferTest, RestOfALineContinuesInTheEmptiedBuffer) {
  std::string First = Numbered(1000);
  std::string Second(100, 'y');
  Append(First);
  Append(Second);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], First + std::string(24, 'y'));
  EXPECT_EQ(FBuffer.Fill(), 76u);
  EXPECT_EQ(std::string(FBuffer.Text()), std::string(76, 'y'));
}

TEST_F(MessageBoxBufferTest, LongTextArrivesInOrderWithNothingLostOrRepeated) {
  std::string Text = Numbered(3000);
  Append(Text);
  FBuffer.ShowAndEmpty();
  ASSERT_EQ(Boxes.size(), 3u);
  EXPECT_EQ(Boxes[0].size(), 1024u);
  EXPECT_EQ(Boxes[1].size(), 1024u);
  EXPECT_EQ(Boxes[2].size(), 3000u - 2048u);
  EXPECT_EQ(Joined(), Text);
  EXPECT_TRUE(TextWasTerminated);
}

TEST_F(MessageBoxBufferTest, CharacterCutByTheBufferEndMovesWholeIntoTheNextBox) {
  // "日" is three bytes, "é" two, the emoji four: each starts one, two or
  // three bytes before the end of the first box.
  for (const std::string& Character :
       {std::string("\xE6\x97\xA5"), std::string("\xC3\xA9"), std::string("\xF0\x9F\x98\x80")}) {
    for (size_t Before = 1; Before < Character.size(); ++Before) {
      SCOPED_TRACE(Character.size() * 10 + Before);
      Boxes.clear();
      const std::string Text = std::string(MessageBoxBufferSize - Before, 'a') + Character + "z";
      Append(Text);
      FBuffer.ShowAndEmpty();
      ASSERT_EQ(Boxes.size(), 2u);
      EXPECT_EQ(Boxes[0], std::string(MessageBoxBufferSize - Before, 'a'));
      EXPECT_EQ(Boxes[1], Character + "z");
    }
  }
  EXPECT_TRUE(TextWasTerminated);
}

TEST_F(MessageBoxBufferTest, WholeCharacterAtTheBufferEndStaysInItsBox) {
  const std::string Text = std::string(MessageBoxBufferSize - 3, 'a') + "\xE6\x97\xA5" + "z";
  Append(Text);
  FBuffer.ShowAndEmpty();
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].size(), MessageBoxBufferSize);
  EXPECT_EQ(Boxes[1], "z");
  // Bytes that are no UTF-8 are split where the buffer ends.
  Boxes.clear();
  const std::string Raw = std::string(MessageBoxBufferSize - 1, 'a') + "\xFF\xFE";
  Append(Raw);
  FBuffer.ShowAndEmpty();
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].size(), MessageBoxBufferSize);
  EXPECT_EQ(Boxes[1], "\xFE");
}

TEST_F(MessageBoxBufferTest, ManyLinesAcrossSeveralBoxes) {
  std::string All;
  for (int I = 0; I < 300; ++I) {
    std::string Line = "line " + std::to_string(I) + "\r\n";
    Append(Line);
    All += Line;
  }
  FBuffer.ShowAndEmpty();
  ASSERT_GE(Boxes.size(), 3u);
  for (size_t I = 0; I + 1 < Boxes.size(); ++I) EXPECT_EQ(Boxes[I].size(), 1024u);
  EXPECT_EQ(Joined(), All);
}

TEST_F(MessageBoxBufferTest, ChannelAppendsOnlyCompleteLines) {
  TMessageBoxChannel Channel(FBuffer);
  Channel.Write("abc");
  EXPECT_EQ(FBuffer.Fill(), 0u);
  Channel.Write("def\r\nghi");
  EXPECT_STREQ(FBuffer.Text(), "abcdef\r\n");
  Channel.Flush();
  EXPECT_STREQ(FBuffer.Text(), "abcdef\r\nghi");
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(MessageBoxBufferTest, ClosingAChannelShowsItsText) {
  TMessageBoxChannel Channel(FBuffer);
  Channel.Write("one\r\ntwo");
  Channel.Close();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "one\r\ntwo");
  EXPECT_FALSE(Channel.IsOpen());
  Channel.Write("late\r\n");  // ignored once closed
  Channel.Close();
  EXPECT_EQ(FBuffer.Fill(), 0u);
  EXPECT_EQ(Boxes.size(), 1u);
  Channel.Reopen();
  Channel.Write("again\n");
  EXPECT_STREQ(FBuffer.Text(), "again\n");
}

TEST_F(MessageBoxBufferTest, ClosingAnEmptyChannelShowsNothing) {
  TMessageBoxChannel Channel(FBuffer);
  Channel.Close();
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(MessageBoxBufferTest, TwoChannelsShareOneBufferLineByLine) {
  TMessageBoxChannel Out(FBuffer);
  TMessageBoxChannel Err(FBuffer);
  Out.Write("o1\n");
  Err.Write("e1\n");
  Out.Write("o2 begins ");
  Err.Write("e2\n");  // a line of the other channel does not split o2
  Out.Write("and ends\n");
  EXPECT_STREQ(FBuffer.Text(), "o1\ne1\ne2\no2 begins and ends\n");
  Err.Close();  // shows the shared text
  ASSERT_EQ(Boxes.size(), 1u);
  Out.Close();  // nothing left
  EXPECT_EQ(Boxes.size(), 1u);
}

TEST_F(MessageBoxBufferTest, LongLineThroughAChannel) {
  TMessageBoxChannel Channel(FBuffer);
  std::string Line = Numbered(2500) + "\r\n";
  Channel.Write(Line);
  EXPECT_EQ(Boxes.size(), 2u);
  Channel.Close();
  ASSERT_EQ(Boxes.size(), 3u);
  EXPECT_EQ(Joined(), Line);
}

TEST(SharedMessageBoxBuffer, SinkReplacesThePlatformBox) {
  Boxes.clear();
  SetMessageBoxSink(RecordBox);
  TMessageBoxBuffer& Shared = SharedMessageBoxBuffer();
  Shared.Append("shared\r\n", 8);
  Shared.ShowAndEmpty();
  SetMessageBoxSink(nullptr);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "shared\r\n");
}
