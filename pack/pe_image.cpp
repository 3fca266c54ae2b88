#include "pack/pe_image.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "launcher/bundle_header.h"

namespace {

constexpr uint16_t MachineAmd64 = 0x8664;
constexpr uint16_t MagicPe32Plus = 0x20B;
constexpr size_t SectionHeaderSize = 40;
constexpr uint32_t ScnInitializedData = 0x00000040;
// Data directory slots.
constexpr int DirResource = 2, DirSecurity = 4, DirBaseReloc = 5;

// The sections Rewrite may move: nothing but the loader refers to them.
const std::set<std::string> Movable = {".rsrc", ".reloc", ".qbundle", ".gnu_debuglink"};

size_t DirectoryOffset(size_t Optional, int Index) { return Optional + 112 + 8 * static_cast<size_t>(Index); }

}  // namespace

TLauncherImage::TLauncherImage(TBytes File) : FFile(std::move(File)) {
  const std::string notPe = "it is not a Windows executable";
  if (FFile.size() < 64 || FFile[0] != 'M' || FFile[1] != 'Z') throw EPackError(notPe);
  FPe = Get32(FFile, 0x3C);
  if (FPe > FFile.size() - 4 || std::memcmp(&FFile[FPe], "PE\0\0", 4) != 0) throw EPackError(notPe);
  const size_t header = FPe + 4;
  if (Get16(FFile, header) != MachineAmd64) throw EPackError("it is not a 64-bit (x86-64) Windows executable");
  const uint16_t sectionCount = Get16(FFile, header + 2);
  const uint32_t symbolTable = Get32(FFile, header + 8);
  const uint32_t symbolCount = Get32(FFile, header + 12);
  const uint16_t optionalSize = Get16(FFile, header + 16);
  FOptional = header + 20;
  if (Get16(FFile, FOptional) != MagicPe32Plus || optionalSize < 112 + 16 * 8 || Get32(FFile, FOptional + 108) < 16)
    throw EPackError("it is not a 64-bit (PE32+) Windows executable");
  FSectionAlignment = Get32(FFile, FOptional + 32);
  FFileAlignment = Get32(FFile, FOptional + 36);
  if (FFileAlignment == 0 || FSectionAlignment == 0) throw EPackError(notPe);
  FSectionTable = FOptional + optionalSize;

  if (symbolTable != 0) {
    const size_t strings = symbolTable + 18 * static_cast<size_t>(symbolCount);
    if (strings > FFile.size() || FFile.size() - strings < 4) throw EPackError("its string table lies outside the file");
    const uint32_t size = Get32(FFile, strings);
    if (size < 4 || size > FFile.size() - strings) throw EPackError("its string table is damaged");
    FStringTable.assign(FFile.begin() + strings, FFile.begin() + strings + size);
  }

  for (uint16_t i = 0; i < sectionCount; ++i) {
    const size_t at = FSectionTable + SectionHeaderSize * i;
    TSectionInfo section;
    char name[9] = {};
    for (int k = 0; k < 8; ++k) name[k] = static_cast<char>(FFile.at(at + k));
    section.Name = name;
    if (section.Name.size() > 1 && section.Name[0] == '/') {
      // A long name: "/offset" into the string table.
      const size_t offset = std::strtoul(name + 1, nullptr, 10);
      if (offset >= FStringTable.size()) throw EPackError("a section name lies outside the string table");
      section.Name = reinterpret_cast<const char*>(FStringTable.data() + offset);
    }
    section.VirtualSize = Get32(FFile, at + 8);
    section.VirtualAddress = Get32(FFile, at + 12);
    section.RawSize = Get32(FFile, at + 16);
    section.RawOffset = Get32(FFile, at + 20);
    section.Characteristics = Get32(FFile, at + 36);
    if (section.RawSize != 0 && (section.RawOffset > FFile.size() || section.RawSize > FFile.size() - section.RawOffset))
      throw EPackError("the section " + section.Name + " lies outside the file");
    if (i > 0 && section.VirtualAddress <= FSections.back().VirtualAddress)
      throw EPackError("its sections are not in address order");
    FSections.push_back(section);
  }

  // The launcher's mark: a bundle section behind a valid header.
  const TSectionInfo& bundle = Section(".qbundle");
  TBytes data = SectionData(bundle);
  TEmbeddedBundle found;
  if (!ReadBundleHeader(data.data(), std::min<size_t>(data.size(), bundle.VirtualSize), found))
    throw EPackError("its bundle section does not begin with the bundle header");
  if (symbolCount != 0) throw EPackError("it still carries a symbol table (it is not a stripped release build)");

  // Everything from the resources on must be movable, and nothing else may
  // point there.
  FFirstTail = FSections.size();
  for (size_t i = 0; i < FSections.size(); ++i)
    if (FSections[i].Name == ".rsrc" || FSections[i].Name == ".reloc" || FSections[i].Name == ".qbundle") {
      FFirstTail = i;
      break;
    }
  for (size_t i = FFirstTail; i < FSections.size(); ++i)
    if (!Movable.count(FSections[i].Name))
      throw EPackError("its section " + FSections[i].Name + " follows the resources (not a layout quintabel-pack knows)");
  const uint32_t tailStart = FSections[FFirstTail].VirtualAddress;
  for (int dir = 0; dir < 16; ++dir) {
    if (dir == DirResource || dir == DirSecurity || dir == DirBaseReloc) continue;
    const uint32_t rva = Get32(FFile, DirectoryOffset(FOptional, dir));
    if (rva != 0 && rva >= tailStart)
      throw EPackError(FormatText("its data directory %d points into the sections that would move", dir));
  }
  for (size_t i = FFirstTail; i < FSections.size(); ++i) {
    if (FSections[i].Name != ".reloc") continue;
    TBytes relocations = SectionData(FSections[i]);
    relocations.resize(std::min<size_t>(relocations.size(), FSections[i].VirtualSize));
    for (size_t at = 0; at + 8 <= relocations.size();) {
      const uint32_t page = Get32(relocations, at), size = Get32(relocations, at + 4);
      if (size < 8) break;
      if (page >= tailStart) throw EPackError("a base relocation lies in the sections that would move");
      at += size;
    }
  }
  for (size_t i = 0; i < FFirstTail; ++i)
    if (FSections[i].RawSize != 0 && FSections[FFirstTail].RawOffset != 0 &&
        FSections[i].RawOffset + FSections[i].RawSize > FSections[FFirstTail].RawOffset)
      throw EPackError("its sections are not in file order");
}

const TSectionInfo& TLauncherImage::Section(const std::string& Name) const {
  for (const TSectionInfo& section : FSections)
    if (section.Name == Name) return section;
  if (Name == ".qbundle") throw EPackError("it is not a quintabel launcher (it has no bundle section)");
  throw EPackError("it has no " + Name + " section");
}

TBytes TLauncherImage::SectionData(const TSectionInfo& Section) const {
  return TBytes(FFile.begin() + Section.RawOffset, FFile.begin() + Section.RawOffset + Section.RawSize);
}

TBytes TLauncherImage::Bundle() const {
  const TSectionInfo& section = Section(".qbundle");
  TBytes data = SectionData(section);
  TEmbeddedBundle found;
  ReadBundleHeader(data.data(), std::min<size_t>(data.size(), section.VirtualSize), found);
  return TBytes(found.Data, found.Data + found.Length);
}

std::vector<TResource> TLauncherImage::Resources() const {
  const TSectionInfo& section = Section(".rsrc");
  TBytes data = SectionData(section);
  data.resize(std::min<size_t>(data.size(), section.VirtualSize));
  return ReadResourceSection(data, section.VirtualAddress);
}

bool TLauncherImage::Signed() const { return Get32(FFile, DirectoryOffset(FOptional, DirSecurity) + 4) != 0; }

TBytes TLauncherImage::Rewrite(const TBytes& NewBundle, const std::vector<TResource>& NewResources) const {
  // Everything before the first moved section stays byte for byte.
  const size_t keep = FSections[FFirstTail].RawOffset != 0 ? FSections[FFirstTail].RawOffset : FFile.size();
  TBytes out(FFile.begin(), FFile.begin() + keep);
  PadTo(out, FFileAlignment);

  uint32_t address = FSections[FFirstTail].VirtualAddress;
  for (size_t i = FFirstTail; i < FSections.size(); ++i) {
    const TSectionInfo& old = FSections[i];
    TBytes data;
    if (old.Name == ".rsrc") {
      data = BuildResourceSection(NewResources, address);
    } else if (old.Name == ".qbundle") {
      data.resize(BundleHeaderSize);
      WriteBundleHeader(NewBundle.size(), data.data());
      data.insert(data.end(), NewBundle.begin(), NewBundle.end());
    } else {
      data = SectionData(old);
      data.resize(std::min<size_t>(data.size(), old.VirtualSize));
    }
    if (data.size() > 0xFFFFFFFFull - address - FSectionAlignment)
      throw EPackError("the bundle is too large for a Windows executable");
    const size_t header = FSectionTable + SectionHeaderSize * i;
    Put32(out, header + 8, static_cast<uint32_t>(data.size()));
    Put32(out, header + 12, address);
    const uint32_t rawSize = static_cast<uint32_t>(AlignUp(data.size(), FFileAlignment));
    Put32(out, header + 16, rawSize);
    Put32(out, header + 20, rawSize != 0 ? static_cast<uint32_t>(out.size()) : 0);
    if (old.Name == ".rsrc") {
      Put32(out, DirectoryOffset(FOptional, DirResource), address);
      Put32(out, DirectoryOffset(FOptional, DirResource) + 4, static_cast<uint32_t>(data.size()));
    } else if (old.Name == ".reloc") {
      Put32(out, DirectoryOffset(FOptional, DirBaseReloc), address);
    }
    data.resize(rawSize, 0);
    out.insert(out.end(), data.begin(), data.end());
    address = static_cast<uint32_t>(AlignUp(static_cast<uint64_t>(address) + std::max<size_t>(data.size(), 1),
                                            FSectionAlignment));
  }
  // The size of the image ends with the last section, and the initialised
  // data sum follows the new raw sizes.
  Put32(out, FOptional + 56, address);
  uint32_t initialised = 0;
  for (size_t i = 0; i < FSections.size(); ++i) {
    const size_t header = FSectionTable + SectionHeaderSize * i;
    if (Get32(out, header + 36) & ScnInitializedData) initialised += Get32(out, header + 16);
  }
  Put32(out, FOptional + 8, initialised);
  // The long section names follow the sections; a signature is dropped.
  const size_t header = FPe + 4;
  if (!FStringTable.empty()) {
    Put32(out, header + 8, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), FStringTable.begin(), FStringTable.end());
  } else {
    Put32(out, header + 8, 0);
  }
  Put32(out, DirectoryOffset(FOptional, DirSecurity), 0);
  Put32(out, DirectoryOffset(FOptional, DirSecurity) + 4, 0);
  Put32(out, FOptional + 64, PeChecksum(out, FOptional + 64));
  return out;
}

uint32_t PeChecksum(const TBytes& File, size_t ChecksumOffset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < File.size(); i += 2) {
    if (i == ChecksumOffset || i == ChecksumOffset + 2) continue;
    uint32_t word = File[i];
    if (i + 1 < File.size()) word |= static_cast<uint32_t>(File[i + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + File.size());
}
