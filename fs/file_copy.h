// Block-by-block copy of one file to another path.
#pragma once

#include <cstdint>
#include <string>

enum : uint32_t {
  cfOverwriteExisting = 1,
  cfCreateDestinationFolder = 2,
  cfPreserveTime = 4,
};

bool FileCopy(const std::string& Source, const std::string& Destination,
              uint32_t Flags, bool RaiseOnError);
