#include "zip/compressor.h"

#include <zlib.h>

#include <vector>

#include "runtime/exceptions.h"
#include "zip/zip_format.h"

namespace {

// The encoder writes its output through a buffer of this size.
constexpr uInt OutputBufferSize = 16384;

int ZlibLevel(TCompressionLevel Level) {
  switch (Level) {
    case clNone: return Z_NO_COMPRESSION;
    case clFastest: return Z_BEST_SPEED;
    case clMax: return Z_BEST_COMPRESSION;
    case clDefault: break;
  }
  return Z_DEFAULT_COMPRESSION;
}

[[noreturn]] void RaiseCompressionError(int Code) { throw Ecompressionerror(zError(Code)); }

// Owns an initialised deflate stream and ends it on every path out.
class TDeflateStream {
 public:
  explicit TDeflateStream(int Level) {
    int Rc = deflateInit2(&Z, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (Rc != Z_OK) RaiseCompressionError(Rc);
  }
  ~TDeflateStream() { deflateEnd(&Z); }
  TDeflateStream(const TDeflateStream&) = delete;
  TDeflateStream& operator=(const TDeflateStream&) = delete;

  z_stream Z{};
};

}  // namespace

TCompressor::TCompressor(TStream* Input, TStream* Output, uint32_t BufferSize)
    : FInput(Input), FOutput(Output), FCrc32(0xFFFFFFFFu), FBufferSize(BufferSize) {}

TDeflater::TDeflater(TStream* Input, TStream* Output, uint32_t BufferSize) : TCompressor(Input, Output, BufferSize) {}

void TDeflater::Compress() {
  FCrc32 = 0xFFFFFFFFu;
  FBytesRead = 0;
  const uint32_t InSize = FBufferSize > 0 ? FBufferSize : 16384;
  std::vector<unsigned char> In(InSize);
  std::vector<unsigned char> OutBuffer(OutputBufferSize);

  TDeflateStream Deflater(ZlibLevel(CompressionLevel));
  z_stream& Z = Deflater.Z;

  // Runs the encoder over whatever input it holds; every full output block
  // and, when finishing, the last partial block go to the output stream
  // through WriteBuffer, so a short write is never ignored.
  auto Pump = [&](int Flush) {
    for (;;) {
      Z.next_out = OutBuffer.data();
      Z.avail_out = OutputBufferSize;
      int Rc = deflate(&Z, Flush);
      if (Rc != Z_OK && Rc != Z_STREAM_END && Rc != Z_BUF_ERROR) RaiseCompressionError(Rc);
      uInt Produced = OutputBufferSize - Z.avail_out;
      if (Produced > 0) FOutput->WriteBuffer(OutBuffer.data(), static_cast<int32_t>(Produced));
      if (Flush == Z_FINISH) {
        if (Rc == Z_STREAM_END) return;
        if (Rc == Z_BUF_ERROR && Produced == 0) RaiseCompressionError(Rc);
      } else if (Z.avail_in == 0 && Z.avail_out != 0) {
        return;
      }
    }
  };

  for (;;) {
    int32_t N = FInput->Read(In.data(), static_cast<int32_t>(InSize));
    if (N <= 0) break;
    FCrc32 = UpdateCrc32(FCrc32, In.data(), static_cast<size_t>(N));
    FBytesRead += N;
    Z.next_in = In.data();
    Z.avail_in = static_cast<uInt>(N);
    Pump(Z_NO_FLUSH);
  }
  Z.next_in = nullptr;
  Z.avail_in = 0;
  Pump(Z_FINISH);
  FCrc32 = ~FCrc32;
}
