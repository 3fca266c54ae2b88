#include "zip/compressor.h"

#include <zlib.h>

#include <vector>

#include "runtime/exceptions.h"
#include "zip/zip_format.h"

namespace {

// The encoder writes its output through a buffer of this size.
constexpr uInt kOutputBufferSize = 16384;

int ZlibLevel(TCompressionLevel Level) {
  switch (Level) {
    case clNone: return Z_NO_COMPRESSION;
    case clFastest: return Z_BEST_SPEED;
    case clMax: return Z_BEST_COMPRESSION;
    case clDefault: break;
  }
  return Z_DEFAULT_COMPRESSION;
}

[[noreturn]] void RaiseCompressionError(int Code) {
  throw Ecompressionerror(zError(Code));
}

// Owns an initialised deflate stream and ends it on every path out.
class TDeflateStream {
 public:
  explicit TDeflateStream(int Level) {
    int rc = deflateInit2(&Z, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) RaiseCompressionError(rc);
  }
  ~TDeflateStream() { deflateEnd(&Z); }
  TDeflateStream(const TDeflateStream&) = delete;
  TDeflateStream& operator=(const TDeflateStream&) = delete;

  z_stream Z{};
};

}  // namespace

TCompressor::TCompressor(TStream* Input, TStream* Output, uint32_t BufferSize)
    : FInput(Input), FOutput(Output), FCrc32(0xFFFFFFFFu), FBufferSize(BufferSize) {}

TDeflater::TDeflater(TStream* Input, TStream* Output, uint32_t BufferSize)
    : TCompressor(Input, Output, BufferSize) {}

void TDeflater::Compress() {
  FCrc32 = 0xFFFFFFFFu;
  FBytesRead = 0;
  const uint32_t inSize = FBufferSize > 0 ? FBufferSize : 16384;
  std::vector<unsigned char> in(inSize);
  std::vector<unsigned char> out(kOutputBufferSize);

  TDeflateStream deflater(ZlibLevel(CompressionLevel));
  z_stream& z = deflater.Z;

  // Runs the encoder over whatever input it holds; every full output block
  // and, when finishing, the last partial block go to the output stream
  // through WriteBuffer, so a short write is never ignored.
  auto pump = [&](int Flush) {
    for (;;) {
      z.next_out = out.data();
      z.avail_out = kOutputBufferSize;
      int rc = deflate(&z, Flush);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) RaiseCompressionError(rc);
      uInt produced = kOutputBufferSize - z.avail_out;
      if (produced > 0) FOutput->WriteBuffer(out.data(), static_cast<int32_t>(produced));
      if (Flush == Z_FINISH) {
        if (rc == Z_STREAM_END) return;
        if (rc == Z_BUF_ERROR && produced == 0) RaiseCompressionError(rc);
      } else if (z.avail_in == 0 && z.avail_out != 0) {
        return;
      }
    }
  };

  for (;;) {
    int32_t n = FInput->Read(in.data(), static_cast<int32_t>(inSize));
    if (n <= 0) break;
    FCrc32 = UpdateCrc32(FCrc32, in.data(), static_cast<size_t>(n));
    FBytesRead += n;
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(n);
    pump(Z_NO_FLUSH);
  }
  z.next_in = nullptr;
  z.avail_in = 0;
  pump(Z_FINISH);
  FCrc32 = ~FCrc32;
}
