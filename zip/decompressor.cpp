#include "zip/decompressor.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "runtime/exceptions.h"
#include "zip/zip_format.h"

TDeCompressor::TDeCompressor(TStream* Input, TStream* Output, uint32_t BufferSize)
    : FInput(Input), FOutput(Output), FCrc32(0xFFFFFFFFu), FBufferSize(BufferSize) {}

TInflater::TInflater(TStream* Input, TStream* Output, uint32_t BufferSize) : TDeCompressor(Input, Output, BufferSize) {}

namespace {

// Owns an open zlib decoder and ends it on every path.
class TInflateState {
 public:
  TInflateState() {
    std::memset(&Z, 0, sizeof Z);
    const int Rc = inflateInit2(&Z, -15);
    if (Rc != Z_OK) throw Edecompressionerror(zError(Rc));
  }
  ~TInflateState() { inflateEnd(&Z); }
  TInflateState(const TInflateState&) = delete;
  TInflateState& operator=(const TInflateState&) = delete;
  z_stream Z;
};

}  // namespace

void TInflater::Decompress() {
  FCrc32 = 0xFFFFFFFFu;
  const uint32_t Size = FBufferSize ? FBufferSize : 16384;
  // One allocation for the input and the output buffer.
  std::unique_ptr<unsigned char[]> Buffers(new unsigned char[2 * static_cast<size_t>(Size)]);
  unsigned char* In = Buffers.get();
  unsigned char* Out = In + Size;

  TInflateState State;
  z_stream& Z = State.Z;
  bool InputEnded = false;
  uint32_t Crc = FCrc32;
  for (;;) {
    if (Z.avail_in == 0 && !InputEnded) {
      const int32_t N = FInput->Read(In, static_cast<int32_t>(Size));
      if (N <= 0) {
        InputEnded = true;
      } else {
        Z.next_in = In;
        Z.avail_in = static_cast<uInt>(N);
      }
    }
    Z.next_out = Out;
    Z.avail_out = Size;
    const int Rc = inflate(&Z, Z_NO_FLUSH);
    const uint32_t Produced = Size - Z.avail_out;
    if (Produced > 0) {
      Crc = UpdateCrc32(Crc, Out, Produced);
      FOutput->WriteBuffer(Out, static_cast<int32_t>(Produced));
    }
    if (Rc == Z_STREAM_END) break;
    if (Rc == Z_OK) continue;
    if (Rc == Z_BUF_ERROR) {
      // No progress: either more input is needed or the input has run out
      // before the end of the Deflate stream.
      if (Z.avail_in == 0 && !InputEnded) continue;
      throw Edecompressionerror(zError(Z_BUF_ERROR));
    }
    // Z_DATA_ERROR, Z_MEM_ERROR, Z_NEED_DICT (which raw Deflate never asks
    // for) and the rest end the entry with zlib's text for the code.
    throw Edecompressionerror(zError(Rc == Z_NEED_DICT ? Z_DATA_ERROR : Rc));
  }
  FCrc32 = ~Crc;
}
