// TDeflater: raw Deflate encoding of an input stream with its CRC-32.
#include <gtest/gtest.h>

#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "tests/zip_writer_support.h"
#include "zip/compressor.h"

using namespace qbtest;

namespace {

// Accepts at most Limit bytes in total, then takes only part of each write.
class TShortOutput : public TStream {
 public:
  explicit TShortOutput(int64_t Limit) : FLimit(Limit) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t Count) override {
    int64_t Room = FLimit - Written;
    int32_t N = Count <= Room ? Count : static_cast<int32_t>(Room > 0 ? Room : 0);
    Written += N;
    return N;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return Written; }
  bool SetSize(int64_t) override { return false; }
  int64_t Written = 0;

 private:
  int64_t FLimit;
};

}  // namespace

TEST(TDeflater, EncodesRawDeflateWithTheZipCrc) {
  for (const Bytes& Input : {TextBytes(100000), RandomBytes(50000, 7), Bytes{'a'}}) {
    TMemoryStream In, Out;
    Fill(In, Input);
    TDeflater D(&In, &Out, 16384);
    EXPECT_EQ(D.MethodId(), 8);
    EXPECT_EQ(D.CompressionLevel, clDefault);
    D.Compress();
    EXPECT_EQ(D.Crc32(), ZlibCrc(Input));
    EXPECT_EQ(D.BytesRead(), static_cast<int64_t>(Input.size()));
    Bytes Encoded = Contents(Out);
    EXPECT_EQ(RawInflate(Encoded.data(), Encoded.size(), Input.size()), Input);
  }
}

TEST(TDeflater, EmptyInputGivesTheTwoByteStreamAndCrcZero) {
  TMemoryStream In, Out;
  TDeflater D(&In, &Out, 16384);
  D.Compress();
  EXPECT_EQ(D.Crc32(), 0u);
  EXPECT_EQ(Contents(Out), (Bytes{0x03, 0x00}));
}

TEST(TDeflater, CrcOfTheNineDigits) {
  TMemoryStream In, Out;
  Fill(In, Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'});
  TDeflater D(&In, &Out, 16384);
  D.Compress();
  EXPECT_EQ(D.Crc32(), 0xCBF43926u);
}

TEST(TDeflater, ReadsFromTheCurrentPosition) {
  TMemoryStream In, Out;
  Bytes Text = TextBytes(1000);
  Fill(In, Text);
  In.SetPosition(400);
  TDeflater D(&In, &Out, 16384);
  D.Compress();
  Bytes Rest(Text.begin() + 400, Text.end());
  EXPECT_EQ(D.BytesRead(), 600);
  EXPECT_EQ(D.Crc32(), ZlibCrc(Rest));
  Bytes Encoded = Contents(Out);
  EXPECT_EQ(RawInflate(Encoded.data(), Encoded.size(), Rest.size()), Rest);
}

TEST(TDeflater, ShortWriteOfAFullBlockIsAWriteError) {
  // Random data fills several full 16,384-byte output blocks; the output
  // refuses part of the second one.
  TMemoryStream In;
  Fill(In, RandomBytes(200000, 8));
  TShortOutput Out(20000);
  TDeflater D(&In, &Out, 16384);
  try {
    D.Compress();
    FAIL() << "no failure raised";
  } catch (const EWriteError& E) {
    EXPECT_EQ(E.Message(), "Stream write error");
  }
  EXPECT_EQ(Out.Written, 20000);
}

TEST(TDeflater, ShortWriteOfTheLastBlockIsAWriteError) {
  TMemoryStream In;
  Fill(In, TextBytes(100));
  TShortOutput Out(3);
  TDeflater D(&In, &Out, 16384);
  EXPECT_THROW(D.Compress(), EWriteError);
}

TEST(TDeflater, OtherLevelsStillDecode) {
  Bytes Text = TextBytes(40000);
  size_t None = 0, Best = 0;
  for (TCompressionLevel Level : {clNone, clFastest, clMax}) {
    TMemoryStream In, Out;
    Fill(In, Text);
    TDeflater D(&In, &Out, 4096);
    D.CompressionLevel = Level;
    D.Compress();
    Bytes Encoded = Contents(Out);
    EXPECT_EQ(RawInflate(Encoded.data(), Encoded.size(), Text.size()), Text);
    if (Level == clNone) None = Encoded.size();
    if (Level == clMax) Best = Encoded.size();
  }
  EXPECT_GT(None, Text.size());
  EXPECT_LT(Best, Text.size() / 4);
}
