// The resources of a PE image as a flat list, read from and written to the
// three-level tree of a resource section (type, name, language).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/pe_bytes.h"

// The numbered resource types that quintabel-pack reads or writes.
constexpr uint16_t RtIcon = 3;
constexpr uint16_t RtGroupIcon = 14;
constexpr uint16_t RtVersion = 16;
constexpr uint16_t RtManifest = 24;

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
