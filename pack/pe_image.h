// A Windows launcher of this project as quintabel-pack sees it: a PE32+
// x86-64 image whose last loaded sections are its resources, its base
// relocations and its bundle section ".qbundle" (cmake/qbundle-last.ld),
// possibly followed by a ".gnu_debuglink" section, the string table of long
// section names and an Authenticode signature.
#pragma once

#include <string>
#include <vector>

#include "pack/pe_bytes.h"
#include "pack/resource_tree.h"

struct TSectionInfo {
  std::string Name;
  uint32_t VirtualAddress = 0, VirtualSize = 0, RawOffset = 0, RawSize = 0, Characteristics = 0;
};

class TLauncherImage {
 public:
  // Reads File; raises EPackError naming the first reason why it is not a
  // launcher that quintabel-pack can rewrite.
  explicit TLauncherImage(TBytes File);

  std::vector<TResource> Resources() const;
  bool Signed() const;

  // The launcher with Bundle in place of its archive and Resources in place
  // of its resources: the sections from the resources on are laid out anew,
  // the section table, the data directories, the image size and the checksum
  // follow, and a signature is dropped (the file can be signed again).
  TBytes Rewrite(const TBytes& NewBundle, const std::vector<TResource>& NewResources) const;

 private:
  const TSectionInfo& Section(const std::string& Name) const;
  TBytes SectionData(const TSectionInfo& Section) const;

  TBytes FFile;
  size_t FPe = 0;        // offset of "PE\0\0"
  size_t FOptional = 0;  // offset of the optional header
  size_t FSectionTable = 0;
  uint32_t FFileAlignment = 0, FSectionAlignment = 0;
  std::vector<TSectionInfo> FSections;
  size_t FFirstTail = 0;  // index of the first section that Rewrite lays out anew
  TBytes FStringTable;    // the COFF string table, with its size field; may be empty
};

// The PE checksum of File, whose checksum field lies at ChecksumOffset.
uint32_t PeChecksum(const TBytes& File, size_t ChecksumOffset);
