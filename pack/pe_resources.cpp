#include "pack/pe_resources.h"

#include <algorithm>
#include <cstring>

#include "zip/little_endian.h"
#include "zip/utf8_text.h"

namespace {

constexpr uint32_t HighBit = 0x80000000u;

// ---- reading the tree ----

TResourceKey ReadKey(const TBytes& Section, uint32_t NameField) {
  if ((NameField & HighBit) == 0) return TResourceKey::Number(static_cast<uint16_t>(NameField));
  const size_t Offset = NameField & ~HighBit;
  const uint16_t Length = Get16(Section, Offset);
  TResourceKey Key;
  Key.IsText = true;
  for (uint16_t I = 0; I < Length; ++I) Key.Text += static_cast<char16_t>(Get16(Section, Offset + 2 + 2 * I));
  return Key;
}

struct TDirectoryEntry {
  TResourceKey Key;
  uint32_t Target;  // offset of a subdirectory (high bit set) or of a data entry
};

std::vector<TDirectoryEntry> ReadDirectory(const TBytes& Section, size_t Offset) {
  const uint32_t Count = static_cast<uint32_t>(Get16(Section, Offset + 12)) + Get16(Section, Offset + 14);
  std::vector<TDirectoryEntry> Entries;
  for (uint32_t I = 0; I < Count; ++I) {
    const size_t At = Offset + 16 + 8 * static_cast<size_t>(I);
    Entries.push_back({ReadKey(Section, Get32(Section, At)), Get32(Section, At + 4)});
  }
  return Entries;
}

size_t Subdirectory(uint32_t Target) {
  if ((Target & HighBit) == 0) throw EPackError("the resource tree has data where a folder belongs");
  return Target & ~HighBit;
}

// ---- writing the tree ----

void AppendKeyField(TBytes& Out, size_t At, const TResourceKey& Key, std::map<std::u16string, size_t>& Strings) {
  Put32(Out, At, Key.IsText ? static_cast<uint32_t>(HighBit | Strings.at(Key.Text)) : Key.Id);
}

// ---- version information blocks ----

struct TVersionBlock {
  std::u16string Key;
  uint16_t Type = 0;  // 1: text value, 0: binary
  TBytes Value;       // text values: UTF-16 code units including the final zero
  std::vector<TVersionBlock> Children;
};

size_t Align4(size_t Value) { return (Value + 3) & ~static_cast<size_t>(3); }

TVersionBlock ReadBlock(const TBytes& Data, size_t Offset, size_t Limit) {
  TVersionBlock Block;
  const size_t Length = Get16(Data, Offset);
  const uint16_t ValueLength = Get16(Data, Offset + 2);
  Block.Type = Get16(Data, Offset + 4);
  if (Length < 6 || Offset + Length > Limit) throw EPackError("the version information is damaged");
  const size_t End = Offset + Length;
  size_t At = Offset + 6;
  while (At + 1 < End && Get16(Data, At) != 0) {
    Block.Key += static_cast<char16_t>(Get16(Data, At));
    At += 2;
  }
  At = Align4(At + 2);
  const size_t ValueBytes = Block.Type == 1 ? 2 * static_cast<size_t>(ValueLength) : ValueLength;
  if (At + ValueBytes > End) throw EPackError("the version information is damaged");
  Block.Value.assign(Data.begin() + At, Data.begin() + At + ValueBytes);
  At = Align4(At + ValueBytes);
  while (At < End) {
    Block.Children.push_back(ReadBlock(Data, At, End));
    At = Align4(At + Get16(Data, At));
  }
  return Block;
}

void WriteBlock(TBytes& Out, const TVersionBlock& Block) {
  const size_t Start = Out.size();
  Append16(Out, 0);
  Append16(Out, static_cast<uint16_t>(Block.Type == 1 ? Block.Value.size() / 2 : Block.Value.size()));
  Append16(Out, Block.Type);
  for (char16_t C : Block.Key) Append16(Out, C);
  Append16(Out, 0);
  PadTo(Out, 4);
  Out.insert(Out.end(), Block.Value.begin(), Block.Value.end());
  for (const TVersionBlock& Child : Block.Children) {
    PadTo(Out, 4);
    WriteBlock(Out, Child);
  }
  Put16(Out, Start, static_cast<uint16_t>(Out.size() - Start));
}

TBytes TextValue(const std::string& Text) {
  TBytes Value;
  for (char16_t C : Utf8ToUtf16(Text)) Append16(Value, C);
  Append16(Value, 0);
  return Value;
}

std::string TextOf(const TBytes& Value) {
  std::u16string Text;
  for (size_t I = 0; I + 1 < Value.size(); I += 2) {
    const char16_t C = GetLe16(&Value[I]);
    if (C == 0) break;
    Text += C;
  }
  return Utf16ToUtf8(Text);
}

template <class TList>
auto& VersionResource(TList& Resources) {
  for (auto& Resource : Resources)
    if (!Resource.Type.IsText && Resource.Type.Id == rtVersion) return Resource;
  throw EPackError("the launcher has no version information");
}

constexpr size_t FixedInfoSize = 52;
constexpr uint32_t FixedInfoSignature = 0xFEEF04BD;

TVersionBlock ReadVersion(const TResource& Resource) {
  TVersionBlock Root = ReadBlock(Resource.Data, 0, Resource.Data.size());
  if (Root.Key != u"VS_VERSION_INFO" || Root.Value.size() < FixedInfoSize || Get32(Root.Value, 0) != FixedInfoSignature)
    throw EPackError("the version information is damaged");
  return Root;
}

// "MyApp" of "MyApp.exe": the internal name that goes with a file name.
std::string FileStem(const std::string& FileName) {
  const size_t Dot = FileName.rfind('.');
  return Dot == std::string::npos || Dot == 0 ? FileName : FileName.substr(0, Dot);
}

// Version information with no strings yet, US English, Unicode: the
// fixed part says version 0.0.0.0 of an application for Windows NT.
TResource EmptyVersionInfo() {
  TVersionBlock Root{u"VS_VERSION_INFO", 0, TBytes(FixedInfoSize, 0), {}};
  Put32(Root.Value, 0, FixedInfoSignature);
  Put32(Root.Value, 4, 0x00010000);  // structure version
  Put32(Root.Value, 24, 0x3F);       // flags mask
  Put32(Root.Value, 32, 0x40004);    // VOS_NT_WINDOWS32
  Put32(Root.Value, 36, 1);          // VFT_APP
  TVersionBlock Table{u"040904B0", 1, {}, {}};
  Root.Children.push_back(TVersionBlock{u"StringFileInfo", 1, {}, {Table}});
  TVersionBlock Translation{u"Translation", 0, {}, {}};
  Append16(Translation.Value, 0x0409);
  Append16(Translation.Value, 1200);
  Root.Children.push_back(TVersionBlock{u"VarFileInfo", 1, {}, {Translation}});
  TResource Resource;
  Resource.Type = TResourceKey::Number(rtVersion);
  Resource.Name = TResourceKey::Number(1);
  Resource.Language = 0x0409;
  WriteBlock(Resource.Data, Root);
  return Resource;
}

}  // namespace

bool TResourceKey::operator<(const TResourceKey& Other) const {
  if (IsText != Other.IsText) return IsText;
  return IsText ? Text < Other.Text : Id < Other.Id;
}

bool TResourceKey::operator==(const TResourceKey& Other) const {
  return IsText == Other.IsText && (IsText ? Text == Other.Text : Id == Other.Id);
}

std::vector<TResource> ReadResourceSection(const TBytes& Section, uint32_t SectionRva) {
  std::vector<TResource> Resources;
  for (const TDirectoryEntry& Type : ReadDirectory(Section, 0)) {
    for (const TDirectoryEntry& Name : ReadDirectory(Section, Subdirectory(Type.Target))) {
      for (const TDirectoryEntry& Language : ReadDirectory(Section, Subdirectory(Name.Target))) {
        if (Language.Target & HighBit) throw EPackError("the resource tree is deeper than three levels");
        const uint32_t Rva = Get32(Section, Language.Target);
        const uint32_t Size = Get32(Section, Language.Target + 4);
        if (Rva < SectionRva || Rva - SectionRva > Section.size() || Size > Section.size() - (Rva - SectionRva))
          throw EPackError("a resource lies outside the resource section");
        TResource Resource;
        Resource.Type = Type.Key;
        Resource.Name = Name.Key;
        Resource.Language = Language.Key.Id;
        Resource.CodePage = Get32(Section, Language.Target + 8);
        const size_t At = Rva - SectionRva;
        Resource.Data.assign(Section.begin() + At, Section.begin() + At + Size);
        Resources.push_back(std::move(Resource));
      }
    }
  }
  return Resources;
}

TBytes BuildResourceSection(const std::vector<TResource>& Resources, uint32_t SectionRva) {
  // The tree in its order: type, then name, then language.
  std::vector<const TResource*> Sorted;
  for (const TResource& Resource : Resources) Sorted.push_back(&Resource);
  std::stable_sort(Sorted.begin(), Sorted.end(), [](const TResource* A, const TResource* B) {
    if (!(A->Type == B->Type)) return A->Type < B->Type;
    if (!(A->Name == B->Name)) return A->Name < B->Name;
    return A->Language < B->Language;
  });
  using TNames = std::map<TResourceKey, std::map<uint16_t, const TResource*>>;
  std::map<TResourceKey, TNames> Tree;
  for (const TResource* Resource : Sorted) Tree[Resource->Type][Resource->Name][Resource->Language] = Resource;

  auto DirectorySize = [](size_t Entries) { return 16 + 8 * Entries; };
  auto CountTexts = [](const auto& Map) {
    uint16_t N = 0;
    for (const auto& Item : Map) N += Item.first.IsText ? 1 : 0;
    return N;
  };

  // Sizes first: every directory, then the data entries, then the texts,
  // then the data.
  size_t Directories = DirectorySize(Tree.size());
  size_t Leaves = 0;
  std::map<std::u16string, size_t> Strings;
  auto NoteText = [&Strings](const TResourceKey& Key) {
    if (Key.IsText) Strings.emplace(Key.Text, 0);
  };
  for (const auto& [type, names] : Tree) {
    NoteText(type);
    Directories += DirectorySize(names.size());
    for (const auto& [name, languages] : names) {
      NoteText(name);
      Directories += DirectorySize(languages.size());
      Leaves += languages.size();
    }
  }
  TBytes Output(Directories + 16 * Leaves, 0);
  for (auto& [text, offset] : Strings) {
    offset = Output.size();
    Append16(Output, static_cast<uint16_t>(text.size()));
    for (char16_t C : text) Append16(Output, C);
  }

  size_t NextDirectory = 0;
  size_t NextLeaf = Directories;
  auto StartDirectory = [&](size_t Texts, size_t Numbers) {
    const size_t At = NextDirectory;
    Put16(Output, At + 12, static_cast<uint16_t>(Texts));
    Put16(Output, At + 14, static_cast<uint16_t>(Numbers));
    NextDirectory += DirectorySize(Texts + Numbers);
    return At;
  };
  const size_t Root = StartDirectory(CountTexts(Tree), Tree.size() - CountTexts(Tree));
  size_t TypeIndex = 0;
  for (const auto& [type, names] : Tree) {
    const size_t TypeEntry = Root + 16 + 8 * TypeIndex++;
    AppendKeyField(Output, TypeEntry, type, Strings);
    const size_t NameDirectory = StartDirectory(CountTexts(names), names.size() - CountTexts(names));
    Put32(Output, TypeEntry + 4, static_cast<uint32_t>(HighBit | NameDirectory));
    size_t NameIndex = 0;
    for (const auto& [name, languages] : names) {
      const size_t NameEntry = NameDirectory + 16 + 8 * NameIndex++;
      AppendKeyField(Output, NameEntry, name, Strings);
      const size_t LanguageDirectory = StartDirectory(0, languages.size());
      Put32(Output, NameEntry + 4, static_cast<uint32_t>(HighBit | LanguageDirectory));
      size_t LanguageIndex = 0;
      for (const auto& [language, resource] : languages) {
        const size_t LanguageEntry = LanguageDirectory + 16 + 8 * LanguageIndex++;
        Put32(Output, LanguageEntry, language);
        Put32(Output, LanguageEntry + 4, static_cast<uint32_t>(NextLeaf));
        PadTo(Output, 8);
        Put32(Output, NextLeaf, static_cast<uint32_t>(SectionRva + Output.size()));
        Put32(Output, NextLeaf + 4, static_cast<uint32_t>(resource->Data.size()));
        Put32(Output, NextLeaf + 8, resource->CodePage);
        NextLeaf += 16;
        Output.insert(Output.end(), resource->Data.begin(), resource->Data.end());
      }
    }
  }
  PadTo(Output, 8);
  return Output;
}

std::vector<TIconImage> ReadIconFile(const TBytes& File) {
  if (File.size() < 6 || Get16(File, 0) != 0 || Get16(File, 2) != 1 || Get16(File, 4) == 0)
    throw EPackError("it is not an icon file (.ico)");
  std::vector<TIconImage> Images;
  const uint16_t Count = Get16(File, 4);
  for (uint16_t I = 0; I < Count; ++I) {
    const size_t At = 6 + 16 * static_cast<size_t>(I);
    TIconImage Image;
    Image.Width = File.at(At);
    Image.Height = File.at(At + 1);
    Image.ColourCount = File.at(At + 2);
    Image.Planes = Get16(File, At + 4);
    Image.BitCount = Get16(File, At + 6);
    const uint32_t Size = Get32(File, At + 8);
    const uint32_t Offset = Get32(File, At + 12);
    if (Size == 0 || Offset > File.size() || Size > File.size() - Offset)
      throw EPackError("an image of the icon file lies outside it");
    Image.Data.assign(File.begin() + Offset, File.begin() + Offset + Size);
    Images.push_back(std::move(Image));
  }
  return Images;
}

void ReplaceIcon(std::vector<TResource>& Resources, const std::vector<TIconImage>& Images) {
  TResourceKey GroupName = TResourceKey::Number(1);
  uint16_t Language = 0x0409;
  bool Found = false;
  for (const TResource& Resource : Resources) {
    if (!Found && !Resource.Type.IsText && Resource.Type.Id == rtGroupIcon) {
      GroupName = Resource.Name;
      Language = Resource.Language;
      Found = true;
    }
  }
  Resources.erase(std::remove_if(Resources.begin(), Resources.end(),
                                 [](const TResource& R) {
                                   return !R.Type.IsText && (R.Type.Id == rtIcon || R.Type.Id == rtGroupIcon);
                                 }),
                  Resources.end());
  TResource Group;
  Group.Type = TResourceKey::Number(rtGroupIcon);
  Group.Name = GroupName;
  Group.Language = Language;
  Append16(Group.Data, 0);
  Append16(Group.Data, 1);
  Append16(Group.Data, static_cast<uint16_t>(Images.size()));
  uint16_t Id = 1;
  for (const TIconImage& Image : Images) {
    Group.Data.push_back(Image.Width);
    Group.Data.push_back(Image.Height);
    Group.Data.push_back(Image.ColourCount);
    Group.Data.push_back(0);
    Append16(Group.Data, Image.Planes);
    Append16(Group.Data, Image.BitCount);
    Append32(Group.Data, static_cast<uint32_t>(Image.Data.size()));
    Append16(Group.Data, Id);
    TResource Icon;
    Icon.Type = TResourceKey::Number(rtIcon);
    Icon.Name = TResourceKey::Number(Id);
    Icon.Language = Language;
    Icon.Data = Image.Data;
    Resources.push_back(std::move(Icon));
    ++Id;
  }
  Resources.push_back(std::move(Group));
}

void ParseVersionNumbers(const std::string& Version, uint16_t Numbers[4]) {
  const std::string Invalid = "the version \"" + Version + "\" is not one to four numbers separated by dots";
  for (int I = 0; I < 4; ++I) Numbers[I] = 0;
  size_t At = 0;
  for (int Part = 0; Part < 4; ++Part) {
    size_t End = At;
    uint32_t Value = 0;
    while (End < Version.size() && Version[End] >= '0' && Version[End] <= '9') {
      Value = Value * 10 + static_cast<uint32_t>(Version[End] - '0');
      if (Value > 65535) throw EPackError(Invalid);
      ++End;
    }
    if (End == At) throw EPackError(Invalid);
    Numbers[Part] = static_cast<uint16_t>(Value);
    if (End == Version.size()) return;
    if (Version[End] != '.') throw EPackError(Invalid);
    At = End + 1;
  }
  throw EPackError(Invalid);
}

void EditVersionInfo(std::vector<TResource>& Resources, const TVersionFields& Fields) {
  if (std::none_of(Resources.begin(), Resources.end(),
                   [](const TResource& R) { return !R.Type.IsText && R.Type.Id == rtVersion; }))
    Resources.push_back(EmptyVersionInfo());
  TResource& Resource = VersionResource(Resources);
  TVersionBlock Root = ReadVersion(Resource);
  std::vector<std::pair<std::string, std::string>> Changes = {{"ProductName", Fields.ProductName},
                                                              {"CompanyName", Fields.CompanyName},
                                                              {"LegalCopyright", Fields.Copyright},
                                                              {"FileDescription", Fields.Description},
                                                              {"OriginalFilename", Fields.OriginalFilename},
                                                              {"InternalName", FileStem(Fields.OriginalFilename)},
                                                              {"FileVersion", Fields.Version},
                                                              {"ProductVersion", Fields.Version}};
  if (!Fields.Version.empty()) {
    uint16_t N[4];
    ParseVersionNumbers(Fields.Version, N);
    const uint32_t Ms = (static_cast<uint32_t>(N[0]) << 16) | N[1];
    const uint32_t Ls = (static_cast<uint32_t>(N[2]) << 16) | N[3];
    Put32(Root.Value, 8, Ms);   // dwFileVersionMS
    Put32(Root.Value, 12, Ls);  // dwFileVersionLS
    Put32(Root.Value, 16, Ms);  // dwProductVersionMS
    Put32(Root.Value, 20, Ls);  // dwProductVersionLS
  }
  bool Tables = false;
  for (TVersionBlock& Info : Root.Children) {
    if (Info.Key != u"StringFileInfo") continue;
    for (TVersionBlock& Table : Info.Children) {
      Tables = true;
      for (const auto& [key, value] : Changes) {
        if (value.empty()) continue;
        const std::u16string WideKey = Utf8ToUtf16(key);
        auto It = std::find_if(Table.Children.begin(), Table.Children.end(),
                               [&](const TVersionBlock& B) { return B.Key == WideKey; });
        if (It == Table.Children.end()) {
          Table.Children.push_back(TVersionBlock{WideKey, 1, {}, {}});
          It = Table.Children.end() - 1;
        }
        It->Type = 1;
        It->Value = TextValue(value);
      }
    }
  }
  if (!Tables) throw EPackError("the version information has no string table");
  TBytes Data;
  WriteBlock(Data, Root);
  Resource.Data = std::move(Data);
}

std::map<std::string, std::string> VersionStrings(const std::vector<TResource>& Resources) {
  std::map<std::string, std::string> Result;
  TVersionBlock Root = ReadVersion(VersionResource(Resources));
  for (const TVersionBlock& Info : Root.Children)
    if (Info.Key == u"StringFileInfo")
      for (const TVersionBlock& Table : Info.Children)
        for (const TVersionBlock& Value : Table.Children) Result[Utf16ToUtf8(Value.Key)] = TextOf(Value.Value);
  return Result;
}

void FixedFileVersion(const std::vector<TResource>& Resources, uint16_t Numbers[4]) {
  TVersionBlock Root = ReadVersion(VersionResource(Resources));
  const uint32_t Ms = Get32(Root.Value, 8), Ls = Get32(Root.Value, 12);
  Numbers[0] = static_cast<uint16_t>(Ms >> 16);
  Numbers[1] = static_cast<uint16_t>(Ms);
  Numbers[2] = static_cast<uint16_t>(Ls >> 16);
  Numbers[3] = static_cast<uint16_t>(Ls);
}
