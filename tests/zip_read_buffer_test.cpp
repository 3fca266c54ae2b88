// TReadBuffer: the buffered read-only view the archive reader reads through.
#include <gtest/gtest.h>

#include <vector>

#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "tests/zip_bytes.h"
#include "zip/read_buffer.h"

using namespace qbtest;

namespace {

// A memory stream that counts the reads and seeks that reach it.
class TCountingStream : public TMemoryStream {
 public:
  int32_t Read(void* Buffer, int32_t Count) override {
    ++Reads;
    return TMemoryStream::Read(Buffer, Count);
  }
  int Reads = 0;
};

}  // namespace

TEST(ReadBuffer, BehavesLikeTheSourceUnderRandomSeeksAndReads) {
  const auto Data = RandomBytes(300000, 3);
  TMemoryStream Direct, Source;
  Fill(Direct, Data);
  Fill(Source, Data);
  TReadBuffer View(Source, 4096);
  std::mt19937 Gen(11);
  std::vector<unsigned char> A(200000), B(200000);
  for (int I = 0; I < 3000; ++I) {
    const int Op = static_cast<int>(Gen() % 4);
    if (Op == 0) {
      const int64_t Pos = Gen() % 310000;
      ASSERT_EQ(View.Seek(Pos, soBeginning), Direct.Seek(Pos, soBeginning));
    } else if (Op == 1) {
      const int64_t Delta = static_cast<int64_t>(Gen() % 20000) - 10000;
      if (Direct.Position() + Delta < 0) continue;
      ASSERT_EQ(View.Seek(Delta, soCurrent), Direct.Seek(Delta, soCurrent));
    } else if (Op == 2) {
      const int64_t Back = Gen() % 5000;
      ASSERT_EQ(View.Seek(-Back, soEnd), Direct.Seek(-Back, soEnd));
    } else {
      // Mostly small reads, sometimes larger than the buffer.
      const int32_t N = static_cast<int32_t>(Gen() % 8 == 0 ? Gen() % 200000 : Gen() % 100);
      const int32_t Ra = View.Read(A.data(), N);
      const int32_t Rb = Direct.Read(B.data(), N);
      ASSERT_EQ(Ra, Rb) << I;
      ASSERT_TRUE(std::equal(A.begin(), A.begin() + Ra, B.begin())) << I;
    }
    ASSERT_EQ(View.Position(), Direct.Position()) << I;
  }
  EXPECT_EQ(View.Size(), 300000);
}

TEST(ReadBuffer, SmallSequentialReadsBecomeFewSourceReads) {
  TCountingStream Source;
  Fill(Source, RandomBytes(100000, 3));
  TReadBuffer View(Source, 65536);
  unsigned char Rec[46];
  int Records = 0;
  while (View.Read(Rec, sizeof Rec) == static_cast<int32_t>(sizeof Rec)) ++Records;
  EXPECT_EQ(Records, 100000 / 46);
  EXPECT_LE(Source.Reads, 4);  // two full buffers, a short one and the end
}

TEST(ReadBuffer, SeekWithinBufferDoesNotReread) {
  TCountingStream Source;
  Fill(Source, RandomBytes(10000, 3));
  TReadBuffer View(Source, 65536);
  unsigned char B[10];
  View.ReadBuffer(B, 10);
  View.Seek(5000, soBeginning);
  View.ReadBuffer(B, 10);
  View.Seek(20, soBeginning);
  View.ReadBuffer(B, 10);
  EXPECT_EQ(Source.Reads, 1);
  EXPECT_EQ(B[0], RandomBytes(10000, 3)[20]);
}

TEST(ReadBuffer, EndAndBadSeeks) {
  TMemoryStream Source;
  Fill(Source, RandomBytes(100, 3));
  TReadBuffer View(Source, 16);
  unsigned char B[200];
  EXPECT_EQ(View.Seek(-1, soBeginning), -1);
  EXPECT_EQ(View.Seek(90, soBeginning), 90);
  EXPECT_EQ(View.Read(B, 200), 10);
  EXPECT_EQ(View.Read(B, 1), 0);
  EXPECT_EQ(View.Seek(1000, soBeginning), 1000);  // past the end: reads give nothing
  EXPECT_EQ(View.Read(B, 5), 0);
  EXPECT_THROW(View.ReadBuffer(B, 5), EReadError);
  EXPECT_EQ(View.Write(B, 5), 0);
  EXPECT_FALSE(View.SetSize(0));
}

TEST(ReadBuffer, StartsAtTheSourcePosition) {
  TMemoryStream Source;
  Fill(Source, RandomBytes(100, 3));
  Source.SetPosition(40);
  TReadBuffer View(Source, 16);
  EXPECT_EQ(View.Position(), 40);
  unsigned char B;
  View.ReadBuffer(&B, 1);
  EXPECT_EQ(B, RandomBytes(100, 3)[40]);
}
