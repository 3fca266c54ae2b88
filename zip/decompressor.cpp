#include "zip/decompressor.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "runtime/exceptions.h"
#include "zip/zip_format.h"

TDeCompressor::TDeCompressor(TStream* Input, TStream* Output, uint32_t BufferSize)
    : FInput(Input), FOutput(Output), FCrc32(0xFFFFFFFFu), FBufferSize(BufferSize) {}

TInflater::TInflater(TStream* Input, TStream* Output, uint32_t BufferSize)
    : TDeCompressor(Input, Output, BufferSize) {}

namespace {

// Owns an open zlib decoder and ends it on every path.
class TInflateState {
 public:
  TInflateState() {
    std::memset(&Z, 0, sizeof Z);
    const int rc = inflateInit2(&Z, -15);
    if (rc != Z_OK) throw Edecompressionerror(zError(rc));
  }
  ~TInflateState() { inflateEnd(&Z); }
  TInflateState(const TInflateState&) = delete;
  TInflateState& operator=(const TInflateState&) = delete;
  z_stream Z;
};

}  // namespace

void TInflater::Decompress() {
  FCrc32 = 0xFFFFFFFFu;
  const uint32_t size = FBufferSize ? FBufferSize : 16384;
  // One allocation for the input and the output buffer.
  std::unique_ptr<unsigned char[]> buffers(new unsigned char[2 * static_cast<size_t>(size)]);
  unsigned char* in = buffers.get();
  unsigned char* out = in + size;

  TInflateState state;
  z_stream& z = state.Z;
  bool inputEnded = false;
  uint32_t crc = FCrc32;
  for (;;) {
    if (z.avail_in == 0 && !inputEnded) {
      const int32_t n = FInput->Read(in, static_cast<int32_t>(size));
      if (n <= 0) {
        inputEnded = true;
      } else {
        z.next_in = in;
        z.avail_in = static_cast<uInt>(n);
      }
    }
    z.next_out = out;
    z.avail_out = size;
    const int rc = inflate(&z, Z_NO_FLUSH);
    const uint32_t produced = size - z.avail_out;
    if (produced > 0) {
      crc = UpdateCrc32(crc, out, produced);
      FOutput->WriteBuffer(out, static_cast<int32_t>(produced));
    }
    if (rc == Z_STREAM_END) break;
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR) {
      // No progress: either more input is needed or the input has run out
      // before the end of the Deflate stream.
      if (z.avail_in == 0 && !inputEnded) continue;
      throw Edecompressionerror(zError(Z_BUF_ERROR));
    }
    // Z_DATA_ERROR, Z_MEM_ERROR, Z_NEED_DICT (which raw Deflate never asks
    // for) and the rest end the entry with zlib's text for the code.
    throw Edecompressionerror(zError(rc == Z_NEED_DICT ? Z_DATA_ERROR : rc));
  }
  FCrc32 = ~crc;
}
