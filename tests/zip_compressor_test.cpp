// TDeflater: raw Deflate encoding of an input stream with its CRC-32.
#include "zip/compressor.h"

#include <gtest/gtest.h>

#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "tests/zip_writer_support.h"

using namespace zipw;

namespace {

void Load(TMemoryStream& S, const Bytes& B) {
  if (!B.empty()) S.WriteBuffer(B.data(), static_cast<int32_t>(B.size()));
  S.SetPosition(0);
}

Bytes Contents(TMemoryStream& S) { return Bytes(S.Memory(), S.Memory() + S.Size()); }

// Accepts at most Limit bytes in total, then takes only part of each write.
class TShortOutput : public TStream {
 public:
  explicit TShortOutput(int64_t Limit) : Limit_(Limit) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t Count) override {
    int64_t room = Limit_ - Written;
    int32_t n = Count <= room ? Count : static_cast<int32_t>(room > 0 ? room : 0);
    Written += n;
    return n;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return Written; }
  bool SetSize(int64_t) override { return false; }
  int64_t Written = 0;

 private:
  int64_t Limit_;
};

}  // namespace

TEST(TDeflater, EncodesRawDeflateWithTheZipCrc) {
  for (const Bytes& input : {TextBytes(100000), RandomBytes(50000, 7), Bytes{'a'}}) {
    TMemoryStream in, out;
    Load(in, input);
    TDeflater d(&in, &out, 16384);
    EXPECT_EQ(d.MethodId(), 8);
    EXPECT_EQ(d.CompressionLevel, clDefault);
    d.Compress();
    EXPECT_EQ(d.Crc32(), ZlibCrc(input));
    EXPECT_EQ(d.BytesRead(), static_cast<int64_t>(input.size()));
    Bytes encoded = Contents(out);
    EXPECT_EQ(RawInflate(encoded.data(), encoded.size(), input.size()), input);
  }
}

TEST(TDeflater, EmptyInputGivesTheTwoByteStreamAndCrcZero) {
  TMemoryStream in, out;
  TDeflater d(&in, &out, 16384);
  d.Compress();
  EXPECT_EQ(d.Crc32(), 0u);
  EXPECT_EQ(Contents(out), (Bytes{0x03, 0x00}));
}

TEST(TDeflater, CrcOfTheNineDigits) {
  TMemoryStream in, out;
  Load(in, Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'});
  TDeflater d(&in, &out, 16384);
  d.Compress();
  EXPECT_EQ(d.Crc32(), 0xCBF43926u);
}

TEST(TDeflater, ReadsFromTheCurrentPosition) {
  TMemoryStream in, out;
  Bytes text = TextBytes(1000);
  Load(in, text);
  in.SetPosition(400);
  TDeflater d(&in, &out, 16384);
  d.Compress();
  Bytes rest(text.begin() + 400, text.end());
  EXPECT_EQ(d.BytesRead(), 600);
  EXPECT_EQ(d.Crc32(), ZlibCrc(rest));
  Bytes encoded = Contents(out);
  EXPECT_EQ(RawInflate(encoded.data(), encoded.size(), rest.size()), rest);
}

TEST(TDeflater, ShortWriteOfAFullBlockIsAWriteError) {
  // Random data fills several full 16,384-byte output blocks; the output
  // refuses part of the second one.
  TMemoryStream in;
  Load(in, RandomBytes(200000, 8));
  TShortOutput out(20000);
  TDeflater d(&in, &out, 16384);
  try {
    d.Compress();
    FAIL() << "no failure raised";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  EXPECT_EQ(out.Written, 20000);
}

TEST(TDeflater, ShortWriteOfTheLastBlockIsAWriteError) {
  TMemoryStream in;
  Load(in, TextBytes(100));
  TShortOutput out(3);
  TDeflater d(&in, &out, 16384);
  EXPECT_THROW(d.Compress(), EWriteError);
}

TEST(TDeflater, OtherLevelsStillDecode) {
  Bytes text = TextBytes(40000);
  size_t none = 0, best = 0;
  for (TCompressionLevel level : {clNone, clFastest, clMax}) {
    TMemoryStream in, out;
    Load(in, text);
    TDeflater d(&in, &out, 4096);
    d.CompressionLevel = level;
    d.Compress();
    Bytes encoded = Contents(out);
    EXPECT_EQ(RawInflate(encoded.data(), encoded.size(), text.size()), text);
    if (level == clNone) none = encoded.size();
    if (level == clMax) best = encoded.size();
  }
  EXPECT_GT(none, text.size());
  EXPECT_LT(best, text.size() / 4);
}
