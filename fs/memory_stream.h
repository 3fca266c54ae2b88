// A growable byte stream held in memory.
#pragma once

#include <vector>

#include "fs/stream.h"

class TMemoryStream : public TStream {
 public:
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  bool SetSize(int64_t NewSize) override;

  const unsigned char* Memory() const { return FData.data(); }
  void Clear();

 private:
  std::vector<unsigned char> FData;
  int64_t FPos = 0;
};
