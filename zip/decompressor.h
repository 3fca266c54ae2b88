// Decompressors used by the archive reader: they decode an entry's data from
// an input stream, write it to an output stream and keep its CRC-32.
#pragma once

#include <cstdint>

#include "fs/stream.h"

class TDeCompressor {
 public:
  // Sets the CRC register to 0xFFFFFFFF. Neither stream is owned.
  TDeCompressor(TStream* Input, TStream* Output, uint32_t BufferSize);
  virtual ~TDeCompressor() = default;
  TDeCompressor(const TDeCompressor&) = delete;
  TDeCompressor& operator=(const TDeCompressor&) = delete;

  // Decodes from the input's current position to the end of the encoded data.
  virtual void Decompress() = 0;
  // The compression method number this decompressor handles.
  virtual uint16_t MethodId() const = 0;

  // The CRC-32 of the data written, valid after Decompress.
  uint32_t Crc32() const { return FCrc32; }
  uint32_t BufferSize() const { return FBufferSize; }

 protected:
  TStream* FInput;
  TStream* FOutput;
  uint32_t FCrc32;
  uint32_t FBufferSize;
};

// Raw Deflate (no zlib header or trailer), method 8.
class TInflater : public TDeCompressor {
 public:
  TInflater(TStream* Input, TStream* Output, uint32_t BufferSize);

  // Decodes until the end of the Deflate stream. Invalid data, or input that
  // ends before the stream does, raises Edecompressionerror with zlib's short
  // error text; a short write raises EWriteError "Stream write error". The
  // decoder may read past the end of the encoded data.
  void Decompress() override;
  uint16_t MethodId() const override { return ClassMethodId(); }
  static constexpr uint16_t ClassMethodId() { return 8; }
};
