// TReadBuffer: the buffered read-only view the archive reader reads through.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "zip/read_buffer.h"

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

std::vector<unsigned char> Pattern(size_t N) {
  std::vector<unsigned char> v(N);
  std::mt19937 gen(3);
  for (auto& c : v) c = static_cast<unsigned char>(gen());
  return v;
}

void Fill(TMemoryStream& S, const std::vector<unsigned char>& Data) {
  S.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
  S.SetPosition(0);
}

}  // namespace

TEST(ReadBuffer, BehavesLikeTheSourceUnderRandomSeeksAndReads) {
  const auto data = Pattern(300000);
  TMemoryStream direct, source;
  Fill(direct, data);
  Fill(source, data);
  TReadBuffer view(source, 4096);
  std::mt19937 gen(11);
  std::vector<unsigned char> a(200000), b(200000);
  for (int i = 0; i < 3000; ++i) {
    const int op = static_cast<int>(gen() % 4);
    if (op == 0) {
      const int64_t pos = gen() % 310000;
      ASSERT_EQ(view.Seek(pos, soBeginning), direct.Seek(pos, soBeginning));
    } else if (op == 1) {
      const int64_t delta = static_cast<int64_t>(gen() % 20000) - 10000;
      if (direct.Position() + delta < 0) continue;
      ASSERT_EQ(view.Seek(delta, soCurrent), direct.Seek(delta, soCurrent));
    } else if (op == 2) {
      const int64_t back = gen() % 5000;
      ASSERT_EQ(view.Seek(-back, soEnd), direct.Seek(-back, soEnd));
    } else {
      // Mostly small reads, sometimes larger than the buffer.
      const int32_t n = static_cast<int32_t>(gen() % 8 == 0 ? gen() % 200000 : gen() % 100);
      const int32_t ra = view.Read(a.data(), n);
      const int32_t rb = direct.Read(b.data(), n);
      ASSERT_EQ(ra, rb) << i;
      ASSERT_TRUE(std::equal(a.begin(), a.begin() + ra, b.begin())) << i;
    }
    ASSERT_EQ(view.Position(), direct.Position()) << i;
  }
  EXPECT_EQ(view.Size(), 300000);
}

TEST(ReadBuffer, SmallSequentialReadsBecomeFewSourceReads) {
  TCountingStream source;
  Fill(source, Pattern(100000));
  TReadBuffer view(source, 65536);
  unsigned char rec[46];
  int records = 0;
  while (view.Read(rec, sizeof rec) == static_cast<int32_t>(sizeof rec)) ++records;
  EXPECT_EQ(records, 100000 / 46);
  EXPECT_LE(source.Reads, 4);  // two full buffers, a short one and the end
}

TEST(ReadBuffer, SeekWithinBufferDoesNotReread) {
  TCountingStream source;
  Fill(source, Pattern(10000));
  TReadBuffer view(source, 65536);
  unsigned char b[10];
  view.ReadBuffer(b, 10);
  view.Seek(5000, soBeginning);
  view.ReadBuffer(b, 10);
  view.Seek(20, soBeginning);
  view.ReadBuffer(b, 10);
  EXPECT_EQ(source.Reads, 1);
  EXPECT_EQ(b[0], Pattern(10000)[20]);
}

TEST(ReadBuffer, EndAndBadSeeks) {
  TMemoryStream source;
  Fill(source, Pattern(100));
  TReadBuffer view(source, 16);
  unsigned char b[200];
  EXPECT_EQ(view.Seek(-1, soBeginning), -1);
  EXPECT_EQ(view.Seek(90, soBeginning), 90);
  EXPECT_EQ(view.Read(b, 200), 10);
  EXPECT_EQ(view.Read(b, 1), 0);
  EXPECT_EQ(view.Seek(1000, soBeginning), 1000);  // past the end: reads give nothing
  EXPECT_EQ(view.Read(b, 5), 0);
  EXPECT_THROW(view.ReadBuffer(b, 5), EReadError);
  EXPECT_EQ(view.Write(b, 5), 0);
  EXPECT_FALSE(view.SetSize(0));
}

TEST(ReadBuffer, StartsAtTheSourcePosition) {
  TMemoryStream source;
  Fill(source, Pattern(100));
  source.SetPosition(40);
  TReadBuffer view(source, 16);
  EXPECT_EQ(view.Position(), 40);
  unsigned char b;
  view.ReadBuffer(&b, 1);
  EXPECT_EQ(b, Pattern(100)[40]);
}
