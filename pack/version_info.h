// The version information resource of a launcher: the fields
// quintabel-pack sets in it, and the edit that sets them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/resource_tree.h"

// The fields of the version information that can be changed; empty ones
// stay as they are. Version is one to four numbers separated by dots; it
// sets the text and the numbers of both the file and the product version.
// OriginalFilename also sets InternalName (the name without its extension).
struct TVersionFields {
  std::string ProductName, Version, CompanyName, Copyright, Description, OriginalFilename;
};
// Four 16-bit numbers from "a[.b[.c[.d]]]"; raises EPackError otherwise.
void ParseVersionNumbers(const std::string& Version, uint16_t Numbers[4]);
// Changes the version information resource, made first when there is none.
void EditVersionInfo(std::vector<TResource>& Resources, const TVersionFields& Fields);
