// The resources of a PE image as a flat list, read from and written to the
// three-level tree of a resource section (type, name, language), and the
// two kinds that quintabel-pack replaces: icons and version information.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pack/pe_bytes.h"

enum : uint16_t { rtIcon = 3, rtGroupIcon = 14, rtVersion = 16, rtManifest = 24 };

// A type or name of the tree: a number, or a text.
struct TResourceKey {
  bool IsText = false;
  uint16_t Id = 0;
  std::u16string Text;

  static TResourceKey Number(uint16_t Value) { return TResourceKey{false, Value, {}}; }
  // The tree's order: texts first (code unit by code unit), then numbers.
  bool operator<(const TResourceKey& Other) const;
  bool operator==(const TResourceKey& Other) const;
};

struct TResource {
  TResourceKey Type;
  TResourceKey Name;
  uint16_t Language = 0;
  uint32_t CodePage = 0;
  TBytes Data;
};

// Reads every resource of a resource section whose first byte lies at
// SectionRva. Raises EPackError on a tree that points outside the section or
// nests deeper than three levels.
std::vector<TResource> ReadResourceSection(const TBytes& Section, uint32_t SectionRva);
// Builds a resource section for the given resources, to be placed at
// SectionRva (data entries hold addresses, not offsets).
TBytes BuildResourceSection(const std::vector<TResource>& Resources, uint32_t SectionRva);

// One image of an .ico file.
struct TIconImage {
  uint8_t Width = 0, Height = 0, ColourCount = 0;
  uint16_t Planes = 0, BitCount = 0;
  TBytes Data;
};
// The images of an .ico file; raises EPackError when it is not one.
std::vector<TIconImage> ReadIconFile(const TBytes& File);
// Replaces every icon and icon group by the images: one group (named like
// the first group there was, else 1) of icons numbered from 1.
void ReplaceIcon(std::vector<TResource>& Resources, const std::vector<TIconImage>& Images);

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
// The string values of the version information (key to value), UTF-8, and
// its fixed file version as four numbers.
std::map<std::string, std::string> VersionStrings(const std::vector<TResource>& Resources);
void FixedFileVersion(const std::vector<TResource>& Resources, uint16_t Numbers[4]);
