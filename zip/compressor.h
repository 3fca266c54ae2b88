// Compressors used by the archive writer: they read an entry's data from an
// input stream, keep its CRC-32 and write the encoded data to an output
// stream.
#pragma once

#include <cstdint>

#include "fs/stream.h"

class TCompressor {
 public:
  // Sets the CRC register to 0xFFFFFFFF. Neither stream is owned.
  TCompressor(TStream* Input, TStream* Output, uint32_t BufferSize);
  virtual ~TCompressor() = default;
  TCompressor(const TCompressor&) = delete;
  TCompressor& operator=(const TCompressor&) = delete;

  // Encodes the input from its current position to its end.
  virtual void Compress() = 0;
  // The compression method number written into the zip records.
  virtual uint16_t MethodId() const = 0;

  // The CRC-32 of the data read, valid after Compress.
  uint32_t Crc32() const { return FCrc32; }
  // The number of input bytes Compress consumed.
  int64_t BytesRead() const { return FBytesRead; }
  uint32_t BufferSize() const { return FBufferSize; }

 protected:
  TStream* FInput;
  TStream* FOutput;
  uint32_t FCrc32;
  uint32_t FBufferSize;
  int64_t FBytesRead = 0;
};

enum TCompressionLevel { clNone, clFastest, clDefault, clMax };

// Raw Deflate (no zlib header or trailer), method 8.
class TDeflater : public TCompressor {
 public:
  TDeflater(TStream* Input, TStream* Output, uint32_t BufferSize);

  // Raises Ecompressionerror with zlib's text when the encoder fails and
  // EWriteError "Stream write error" when the output takes fewer bytes than
  // it was given.
  void Compress() override;
  uint16_t MethodId() const override { return 8; }

  TCompressionLevel CompressionLevel = clDefault;
};
