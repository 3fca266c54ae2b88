#include "pack/pe_image.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "bundle_layout/bundle_header.h"
#include "zip/little_endian.h"

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
  const std::string NotPe = "it is not a Windows executable";
  if (FFile.size() < 64 || FFile[0] != 'M' || FFile[1] != 'Z') throw EPackError(NotPe);
  FPe = Get32(FFile, 0x3C);
  if (FPe > FFile.size() - 4 || std::memcmp(&FFile[FPe], "PE\0\0", 4) != 0) throw EPackError(NotPe);
  const size_t Header = FPe + 4;
  if (Get16(FFile, Header) != MachineAmd64) throw EPackError("it is not a 64-bit (x86-64) Windows executable");
  const uint16_t SectionCount = Get16(FFile, Header + 2);
  const uint32_t SymbolTable = Get32(FFile, Header + 8);
  const uint32_t SymbolCount = Get32(FFile, Header + 12);
  const uint16_t OptionalSize = Get16(FFile, Header + 16);
  FOptional = Header + 20;
  if (Get16(FFile, FOptional) != MagicPe32Plus || OptionalSize < 112 + 16 * 8 || Get32(FFile, FOptional + 108) < 16)
    throw EPackError("it is not a 64-bit (PE32+) Windows executable");
  FSectionAlignment = Get32(FFile, FOptional + 32);
  FFileAlignment = Get32(FFile, FOptional + 36);
  if (FFileAlignment == 0 || FSectionAlignment == 0) throw EPackError(NotPe);
  FSectionTable = FOptional + OptionalSize;

  if (SymbolTable != 0) {
    const size_t Strings = SymbolTable + 18 * static_cast<size_t>(SymbolCount);
    if (Strings > FFile.size() || FFile.size() - Strings < 4)
      throw EPackError("its string table lies outside the file");
    const uint32_t Size = Get32(FFile, Strings);
    if (Size < 4 || Size > FFile.size() - Strings) throw EPackError("its string table is damaged");
    FStringTable.assign(FFile.begin() + Strings, FFile.begin() + Strings + Size);
  }

  for (uint16_t I = 0; I < SectionCount; ++I) {
    const size_t At = FSectionTable + SectionHeaderSize * I;
    TSectionInfo Section;
    char Name[9] = {};
    for (int K = 0; K < 8; ++K) Name[K] = static_cast<char>(FFile.at(At + K));
    Section.Name = Name;
    if (Section.Name.size() > 1 && Section.Name[0] == '/') {
      // A long name: "/offset" into the string table.
      const size_t Offset = std::strtoul(Name + 1, nullptr, 10);
      if (Offset >= FStringTable.size()) throw EPackError("a section name lies outside the string table");
      Section.Name = reinterpret_cast<const char*>(FStringTable.data() + Offset);
    }
    Section.VirtualSize = Get32(FFile, At + 8);
    Section.VirtualAddress = Get32(FFile, At + 12);
    Section.RawSize = Get32(FFile, At + 16);
    Section.RawOffset = Get32(FFile, At + 20);
    Section.Characteristics = Get32(FFile, At + 36);
    if (Section.RawSize != 0 &&
        (Section.RawOffset > FFile.size() || Section.RawSize > FFile.size() - Section.RawOffset))
      throw EPackError("the section " + Section.Name + " lies outside the file");
    if (I > 0 && Section.VirtualAddress <= FSections.back().VirtualAddress)
      throw EPackError("its sections are not in address order");
    FSections.push_back(Section);
  }

  // The launcher's mark: a bundle section behind a valid header.
  const TSectionInfo& Bundle = Section(".qbundle");
  TBytes Data = SectionData(Bundle);
  TEmbeddedBundle Found;
  if (!ReadBundleHeader(Data.data(), std::min<size_t>(Data.size(), Bundle.VirtualSize), Found))
    throw EPackError("its bundle section does not begin with the bundle header");
  if (SymbolCount != 0) throw EPackError("it still carries a symbol table (it is not a stripped release build)");

  // Everything from the resources on must be movable, and nothing else may
  // point there.
  FFirstTail = FSections.size();
  for (size_t I = 0; I < FSections.size(); ++I)
    if (FSections[I].Name == ".rsrc" || FSections[I].Name == ".reloc" || FSections[I].Name == ".qbundle") {
      FFirstTail = I;
      break;
    }
  for (size_t I = FFirstTail; I < FSections.size(); ++I)
    if (!Movable.count(FSections[I].Name))
      throw EPackError("its section " + FSections[I].Name +
                       " follows the resources (not a layout quintabel-pack knows)");
  const uint32_t TailStart = FSections[FFirstTail].VirtualAddress;
  for (int Dir = 0; Dir < 16; ++Dir) {
    if (Dir == DirResource || Dir == DirSecurity || Dir == DirBaseReloc) continue;
    const uint32_t Rva = Get32(FFile, DirectoryOffset(FOptional, Dir));
    if (Rva != 0 && Rva >= TailStart)
      throw EPackError(FormatText("its data directory %d points into the sections that would move", Dir));
  }
  for (size_t I = FFirstTail; I < FSections.size(); ++I) {
    if (FSections[I].Name != ".reloc") continue;
    TBytes Relocations = SectionData(FSections[I]);
    Relocations.resize(std::min<size_t>(Relocations.size(), FSections[I].VirtualSize));
    for (size_t At = 0; At + 8 <= Relocations.size();) {
      const uint32_t Page = Get32(Relocations, At), Size = Get32(Relocations, At + 4);
      if (Size < 8) break;
      if (Page >= TailStart) throw EPackError("a base relocation lies in the sections that would move");
      At += Size;
    }
  }
  for (size_t I = 0; I < FFirstTail; ++I)
    if (FSections[I].RawSize != 0 && FSections[FFirstTail].RawOffset != 0 &&
        FSections[I].RawOffset + FSections[I].RawSize > FSections[FFirstTail].RawOffset)
      throw EPackError("its sections are not in file order");
}

const TSectionInfo& TLauncherImage::Section(const std::string& Name) const {
  for (const TSectionInfo& Section : FSections)
    if (Section.Name == Name) return Section;
  if (Name == ".qbundle") throw EPackError("it is not a quintabel launcher (it has no bundle section)");
  throw EPackError("it has no " + Name + " section");
}

TBytes TLauncherImage::SectionData(const TSectionInfo& Section) const {
  return TBytes(FFile.begin() + Section.RawOffset, FFile.begin() + Section.RawOffset + Section.RawSize);
}

std::vector<TResource> TLauncherImage::Resources() const {
  const TSectionInfo& Info = Section(".rsrc");
  TBytes Data = SectionData(Info);
  Data.resize(std::min<size_t>(Data.size(), Info.VirtualSize));
  return ReadResourceSection(Data, Info.VirtualAddress);
}

bool TLauncherImage::Signed() const { return Get32(FFile, DirectoryOffset(FOptional, DirSecurity) + 4) != 0; }

TBytes TLauncherImage::Rewrite(const TBytes& NewBundle, const std::vector<TResource>& NewResources) const {
  // Everything before the first moved section stays byte for byte.
  const size_t Keep = FSections[FFirstTail].RawOffset != 0 ? FSections[FFirstTail].RawOffset : FFile.size();
  TBytes Out(FFile.begin(), FFile.begin() + Keep);
  PadTo(Out, FFileAlignment);

  uint32_t Address = FSections[FFirstTail].VirtualAddress;
  for (size_t I = FFirstTail; I < FSections.size(); ++I) {
    const TSectionInfo& Old = FSections[I];
    TBytes Data;
    if (Old.Name == ".rsrc") {
      Data = BuildResourceSection(NewResources, Address);
    } else if (Old.Name == ".qbundle") {
      Data.resize(BundleHeaderSize);
      WriteBundleHeader(NewBundle.size(), Data.data());
      Data.insert(Data.end(), NewBundle.begin(), NewBundle.end());
    } else {
      Data = SectionData(Old);
      Data.resize(std::min<size_t>(Data.size(), Old.VirtualSize));
    }
    if (Data.size() > 0xFFFFFFFFull - Address - FSectionAlignment)
      throw EPackError("the bundle is too large for a Windows executable");
    const size_t Header = FSectionTable + SectionHeaderSize * I;
    Put32(Out, Header + 8, static_cast<uint32_t>(Data.size()));
    Put32(Out, Header + 12, Address);
    const uint32_t RawSize = static_cast<uint32_t>(AlignUp(Data.size(), FFileAlignment));
    Put32(Out, Header + 16, RawSize);
    Put32(Out, Header + 20, RawSize != 0 ? static_cast<uint32_t>(Out.size()) : 0);
    if (Old.Name == ".rsrc") {
      Put32(Out, DirectoryOffset(FOptional, DirResource), Address);
      Put32(Out, DirectoryOffset(FOptional, DirResource) + 4, static_cast<uint32_t>(Data.size()));
    } else if (Old.Name == ".reloc") {
      Put32(Out, DirectoryOffset(FOptional, DirBaseReloc), Address);
    }
    Data.resize(RawSize, 0);
    Out.insert(Out.end(), Data.begin(), Data.end());
    Address = static_cast<uint32_t>(
        AlignUp(static_cast<uint64_t>(Address) + std::max<size_t>(Data.size(), 1), FSectionAlignment));
  }
  // The size of the image ends with the last section, and the initialised
  // data sum follows the new raw sizes.
  Put32(Out, FOptional + 56, Address);
  uint32_t Initialised = 0;
  for (size_t I = 0; I < FSections.size(); ++I) {
    const size_t Header = FSectionTable + SectionHeaderSize * I;
    if (Get32(Out, Header + 36) & ScnInitializedData) Initialised += Get32(Out, Header + 16);
  }
  Put32(Out, FOptional + 8, Initialised);
  // The long section names follow the sections; a signature is dropped.
  const size_t Header = FPe + 4;
  if (!FStringTable.empty()) {
    Put32(Out, Header + 8, static_cast<uint32_t>(Out.size()));
    Out.insert(Out.end(), FStringTable.begin(), FStringTable.end());
  } else {
    Put32(Out, Header + 8, 0);
  }
  Put32(Out, DirectoryOffset(FOptional, DirSecurity), 0);
  Put32(Out, DirectoryOffset(FOptional, DirSecurity) + 4, 0);
  Put32(Out, FOptional + 64, PeChecksum(Out, FOptional + 64));
  return Out;
}

uint32_t PeChecksum(const TBytes& File, size_t ChecksumOffset) {
  uint64_t Sum = 0;
  for (size_t I = 0; I < File.size(); I += 2) {
    if (I == ChecksumOffset || I == ChecksumOffset + 2) continue;
    Sum += I + 1 < File.size() ? GetLe16(&File[I]) : File[I];
    Sum = (Sum & 0xFFFF) + (Sum >> 16);
  }
  Sum = (Sum & 0xFFFF) + (Sum >> 16);
  return static_cast<uint32_t>(Sum + File.size());
}
