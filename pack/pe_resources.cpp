#include "pack/pe_resources.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t HighBit = 0x80000000u;

// ---- reading the tree ----

TResourceKey ReadKey(const TBytes& Section, uint32_t NameField) {
  if ((NameField & HighBit) == 0) return TResourceKey::Number(static_cast<uint16_t>(NameField));
  const size_t offset = NameField & ~HighBit;
  const uint16_t length = Get16(Section, offset);
  TResourceKey key;
  key.IsText = true;
  for (uint16_t i = 0; i < length; ++i) key.Text += static_cast<char16_t>(Get16(Section, offset + 2 + 2 * i));
  return key;
}

struct TDirectoryEntry {
  TResourceKey Key;
  uint32_t Target;  // offset of a subdirectory (high bit set) or of a data entry
};

std::vector<TDirectoryEntry> ReadDirectory(const TBytes& Section, size_t Offset) {
  const uint32_t count = static_cast<uint32_t>(Get16(Section, Offset + 12)) + Get16(Section, Offset + 14);
  std::vector<TDirectoryEntry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = Offset + 16 + 8 * static_cast<size_t>(i);
    entries.push_back({ReadKey(Section, Get32(Section, at)), Get32(Section, at + 4)});
  }
  return entries;
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
  TVersionBlock block;
  const size_t length = Get16(Data, Offset);
  const uint16_t valueLength = Get16(Data, Offset + 2);
  block.Type = Get16(Data, Offset + 4);
  if (length < 6 || Offset + length > Limit) throw EPackError("the version information is damaged");
  const size_t end = Offset + length;
  size_t at = Offset + 6;
  while (at + 1 < end && Get16(Data, at) != 0) {
    block.Key += static_cast<char16_t>(Get16(Data, at));
    at += 2;
  }
  at = Align4(at + 2);
  const size_t valueBytes = block.Type == 1 ? 2 * static_cast<size_t>(valueLength) : valueLength;
  if (at + valueBytes > end) throw EPackError("the version information is damaged");
  block.Value.assign(Data.begin() + at, Data.begin() + at + valueBytes);
  at = Align4(at + valueBytes);
  while (at < end) {
    block.Children.push_back(ReadBlock(Data, at, end));
    at = Align4(at + Get16(Data, at));
  }
  return block;
}

void WriteBlock(TBytes& Out, const TVersionBlock& Block) {
  const size_t start = Out.size();
  Append16(Out, 0);
  Append16(Out, static_cast<uint16_t>(Block.Type == 1 ? Block.Value.size() / 2 : Block.Value.size()));
  Append16(Out, Block.Type);
  for (char16_t c : Block.Key) Append16(Out, c);
  Append16(Out, 0);
  PadTo(Out, 4);
  Out.insert(Out.end(), Block.Value.begin(), Block.Value.end());
  for (const TVersionBlock& child : Block.Children) {
    PadTo(Out, 4);
    WriteBlock(Out, child);
  }
  Put16(Out, start, static_cast<uint16_t>(Out.size() - start));
}

TBytes TextValue(const std::string& Text) {
  TBytes value;
  for (char16_t c : Utf8ToUtf16(Text)) Append16(value, c);
  Append16(value, 0);
  return value;
}

std::string TextOf(const TBytes& Value) {
  std::u16string text;
  for (size_t i = 0; i + 1 < Value.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(Value[i] | (Value[i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  return Utf16ToUtf8(text);
}

template <class TList>
auto& VersionResource(TList& Resources) {
  for (auto& resource : Resources)
    if (!resource.Type.IsText && resource.Type.Id == rtVersion) return resource;
  throw EPackError("the launcher has no version information");
}

constexpr size_t FixedInfoSize = 52;
constexpr uint32_t FixedInfoSignature = 0xFEEF04BD;

TVersionBlock ReadVersion(const TResource& Resource) {
  TVersionBlock root = ReadBlock(Resource.Data, 0, Resource.Data.size());
  if (root.Key != u"VS_VERSION_INFO" || root.Value.size() < FixedInfoSize ||
      Get32(root.Value, 0) != FixedInfoSignature)
    throw EPackError("the version information is damaged");
  return root;
}

// "MyApp" of "MyApp.exe": the internal name that goes with a file name.
std::string FileStem(const std::string& FileName) {
  const size_t dot = FileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? FileName : FileName.substr(0, dot);
}

// Version information with no strings yet, US English, Unicode: the
// fixed part says version 0.0.0.0 of an application for Windows NT.
TResource EmptyVersionInfo() {
  TVersionBlock root{u"VS_VERSION_INFO", 0, TBytes(FixedInfoSize, 0), {}};
  Put32(root.Value, 0, FixedInfoSignature);
  Put32(root.Value, 4, 0x00010000);  // structure version
  Put32(root.Value, 24, 0x3F);       // flags mask
  Put32(root.Value, 32, 0x40004);    // VOS_NT_WINDOWS32
  Put32(root.Value, 36, 1);          // VFT_APP
  TVersionBlock table{u"040904B0", 1, {}, {}};
  root.Children.push_back(TVersionBlock{u"StringFileInfo", 1, {}, {table}});
  TVersionBlock translation{u"Translation", 0, {}, {}};
  Append16(translation.Value, 0x0409);
  Append16(translation.Value, 1200);
  root.Children.push_back(TVersionBlock{u"VarFileInfo", 1, {}, {translation}});
  TResource resource;
  resource.Type = TResourceKey::Number(rtVersion);
  resource.Name = TResourceKey::Number(1);
  resource.Language = 0x0409;
  WriteBlock(resource.Data, root);
  return resource;
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
  std::vector<TResource> resources;
  for (const TDirectoryEntry& type : ReadDirectory(Section, 0)) {
    for (const TDirectoryEntry& name : ReadDirectory(Section, Subdirectory(type.Target))) {
      for (const TDirectoryEntry& language : ReadDirectory(Section, Subdirectory(name.Target))) {
        if (language.Target & HighBit) throw EPackError("the resource tree is deeper than three levels");
        const uint32_t rva = Get32(Section, language.Target);
        const uint32_t size = Get32(Section, language.Target + 4);
        if (rva < SectionRva || rva - SectionRva > Section.size() || size > Section.size() - (rva - SectionRva))
          throw EPackError("a resource lies outside the resource section");
        TResource resource;
        resource.Type = type.Key;
        resource.Name = name.Key;
        resource.Language = language.Key.Id;
        resource.CodePage = Get32(Section, language.Target + 8);
        const size_t at = rva - SectionRva;
        resource.Data.assign(Section.begin() + at, Section.begin() + at + size);
        resources.push_back(std::move(resource));
      }
    }
  }
  return resources;
}

TBytes BuildResourceSection(const std::vector<TResource>& Resources, uint32_t SectionRva) {
  // The tree in its order: type, then name, then language.
  std::vector<const TResource*> sorted;
  for (const TResource& resource : Resources) sorted.push_back(&resource);
  std::stable_sort(sorted.begin(), sorted.end(), [](const TResource* A, const TResource* B) {
    if (!(A->Type == B->Type)) return A->Type < B->Type;
    if (!(A->Name == B->Name)) return A->Name < B->Name;
    return A->Language < B->Language;
  });
  using TNames = std::map<TResourceKey, std::map<uint16_t, const TResource*>>;
  std::map<TResourceKey, TNames> tree;
  for (const TResource* resource : sorted) tree[resource->Type][resource->Name][resource->Language] = resource;

  auto directorySize = [](size_t Entries) { return 16 + 8 * Entries; };
  auto countTexts = [](const auto& Map) {
    uint16_t n = 0;
    for (const auto& item : Map) n += item.first.IsText ? 1 : 0;
    return n;
  };

  // Sizes first: every directory, then the data entries, then the texts,
  // then the data.
  size_t directories = directorySize(tree.size());
  size_t leaves = 0;
  std::map<std::u16string, size_t> strings;
  auto noteText = [&strings](const TResourceKey& Key) {
    if (Key.IsText) strings.emplace(Key.Text, 0);
  };
  for (const auto& [type, names] : tree) {
    noteText(type);
    directories += directorySize(names.size());
    for (const auto& [name, languages] : names) {
      noteText(name);
      directories += directorySize(languages.size());
      leaves += languages.size();
    }
  }
  TBytes out(directories + 16 * leaves, 0);
  for (auto& [text, offset] : strings) {
    offset = out.size();
    Append16(out, static_cast<uint16_t>(text.size()));
    for (char16_t c : text) Append16(out, c);
  }

  size_t nextDirectory = 0;
  size_t nextLeaf = directories;
  auto startDirectory = [&](size_t Texts, size_t Numbers) {
    const size_t at = nextDirectory;
    Put16(out, at + 12, static_cast<uint16_t>(Texts));
    Put16(out, at + 14, static_cast<uint16_t>(Numbers));
    nextDirectory += directorySize(Texts + Numbers);
    return at;
  };
  const size_t root = startDirectory(countTexts(tree), tree.size() - countTexts(tree));
  size_t typeIndex = 0;
  for (const auto& [type, names] : tree) {
    const size_t typeEntry = root + 16 + 8 * typeIndex++;
    AppendKeyField(out, typeEntry, type, strings);
    const size_t nameDirectory = startDirectory(countTexts(names), names.size() - countTexts(names));
    Put32(out, typeEntry + 4, static_cast<uint32_t>(HighBit | nameDirectory));
    size_t nameIndex = 0;
    for (const auto& [name, languages] : names) {
      const size_t nameEntry = nameDirectory + 16 + 8 * nameIndex++;
      AppendKeyField(out, nameEntry, name, strings);
      const size_t languageDirectory = startDirectory(0, languages.size());
      Put32(out, nameEntry + 4, static_cast<uint32_t>(HighBit | languageDirectory));
      size_t languageIndex = 0;
      for (const auto& [language, resource] : languages) {
        const size_t languageEntry = languageDirectory + 16 + 8 * languageIndex++;
        Put32(out, languageEntry, language);
        Put32(out, languageEntry + 4, static_cast<uint32_t>(nextLeaf));
        PadTo(out, 8);
        Put32(out, nextLeaf, static_cast<uint32_t>(SectionRva + out.size()));
        Put32(out, nextLeaf + 4, static_cast<uint32_t>(resource->Data.size()));
        Put32(out, nextLeaf + 8, resource->CodePage);
        nextLeaf += 16;
        out.insert(out.end(), resource->Data.begin(), resource->Data.end());
      }
    }
  }
  PadTo(out, 8);
  return out;
}

std::vector<TIconImage> ReadIconFile(const TBytes& File) {
  if (File.size() < 6 || Get16(File, 0) != 0 || Get16(File, 2) != 1 || Get16(File, 4) == 0)
    throw EPackError("it is not an icon file (.ico)");
  std::vector<TIconImage> images;
  const uint16_t count = Get16(File, 4);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = 6 + 16 * static_cast<size_t>(i);
    TIconImage image;
    image.Width = File.at(at);
    image.Height = File.at(at + 1);
    image.ColourCount = File.at(at + 2);
    image.Planes = Get16(File, at + 4);
    image.BitCount = Get16(File, at + 6);
    const uint32_t size = Get32(File, at + 8);
    const uint32_t offset = Get32(File, at + 12);
    if (size == 0 || offset > File.size() || size > File.size() - offset)
      throw EPackError("an image of the icon file lies outside it");
    image.Data.assign(File.begin() + offset, File.begin() + offset + size);
    images.push_back(std::move(image));
  }
  return images;
}

void ReplaceIcon(std::vector<TResource>& Resources, const std::vector<TIconImage>& Images) {
  TResourceKey groupName = TResourceKey::Number(1);
  uint16_t language = 0x0409;
  bool found = false;
  for (const TResource& resource : Resources) {
    if (!found && !resource.Type.IsText && resource.Type.Id == rtGroupIcon) {
      groupName = resource.Name;
      language = resource.Language;
      found = true;
    }
  }
  Resources.erase(std::remove_if(Resources.begin(), Resources.end(),
                                 [](const TResource& R) {
                                   return !R.Type.IsText && (R.Type.Id == rtIcon || R.Type.Id == rtGroupIcon);
                                 }),
                  Resources.end());
  TResource group;
  group.Type = TResourceKey::Number(rtGroupIcon);
  group.Name = groupName;
  group.Language = language;
  Append16(group.Data, 0);
  Append16(group.Data, 1);
  Append16(group.Data, static_cast<uint16_t>(Images.size()));
  uint16_t id = 1;
  for (const TIconImage& image : Images) {
    group.Data.push_back(image.Width);
    group.Data.push_back(image.Height);
    group.Data.push_back(image.ColourCount);
    group.Data.push_back(0);
    Append16(group.Data, image.Planes);
    Append16(group.Data, image.BitCount);
    Append32(group.Data, static_cast<uint32_t>(image.Data.size()));
    Append16(group.Data, id);
    TResource icon;
    icon.Type = TResourceKey::Number(rtIcon);
    icon.Name = TResourceKey::Number(id);
    icon.Language = language;
    icon.Data = image.Data;
    Resources.push_back(std::move(icon));
    ++id;
  }
  Resources.push_back(std::move(group));
}

void ParseVersionNumbers(const std::string& Version, uint16_t Numbers[4]) {
  const std::string invalid = "the version \"" + Version + "\" is not one to four numbers separated by dots";
  for (int i = 0; i < 4; ++i) Numbers[i] = 0;
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    size_t end = at;
    uint32_t value = 0;
    while (end < Version.size() && Version[end] >= '0' && Version[end] <= '9') {
      value = value * 10 + static_cast<uint32_t>(Version[end] - '0');
      if (value > 65535) throw EPackError(invalid);
      ++end;
    }
    if (end == at) throw EPackError(invalid);
    Numbers[part] = static_cast<uint16_t>(value);
    if (end == Version.size()) return;
    if (Version[end] != '.') throw EPackError(invalid);
    at = end + 1;
  }
  throw EPackError(invalid);
}

void EditVersionInfo(std::vector<TResource>& Resources, const TVersionFields& Fields) {
  if (std::none_of(Resources.begin(), Resources.end(),
                   [](const TResource& R) { return !R.Type.IsText && R.Type.Id == rtVersion; }))
    Resources.push_back(EmptyVersionInfo());
  TResource& resource = VersionResource(Resources);
  TVersionBlock root = ReadVersion(resource);
  std::vector<std::pair<std::string, std::string>> changes = {
      {"ProductName", Fields.ProductName},   {"CompanyName", Fields.CompanyName},
      {"LegalCopyright", Fields.Copyright},  {"FileDescription", Fields.Description},
      {"OriginalFilename", Fields.OriginalFilename}, {"InternalName", FileStem(Fields.OriginalFilename)},
      {"FileVersion", Fields.Version},
      {"ProductVersion", Fields.Version}};
  if (!Fields.Version.empty()) {
    uint16_t n[4];
    ParseVersionNumbers(Fields.Version, n);
    const uint32_t ms = (static_cast<uint32_t>(n[0]) << 16) | n[1];
    const uint32_t ls = (static_cast<uint32_t>(n[2]) << 16) | n[3];
    Put32(root.Value, 8, ms);    // dwFileVersionMS
    Put32(root.Value, 12, ls);   // dwFileVersionLS
    Put32(root.Value, 16, ms);   // dwProductVersionMS
    Put32(root.Value, 20, ls);   // dwProductVersionLS
  }
  bool tables = false;
  for (TVersionBlock& info : root.Children) {
    if (info.Key != u"StringFileInfo") continue;
    for (TVersionBlock& table : info.Children) {
      tables = true;
      for (const auto& [key, value] : changes) {
        if (value.empty()) continue;
        const std::u16string wideKey = Utf8ToUtf16(key);
        auto it = std::find_if(table.Children.begin(), table.Children.end(),
                               [&](const TVersionBlock& B) { return B.Key == wideKey; });
        if (it == table.Children.end()) {
          table.Children.push_back(TVersionBlock{wideKey, 1, {}, {}});
          it = table.Children.end() - 1;
        }
        it->Type = 1;
        it->Value = TextValue(value);
      }
    }
  }
  if (!tables) throw EPackError("the version information has no string table");
  TBytes data;
  WriteBlock(data, root);
  resource.Data = std::move(data);
}

std::map<std::string, std::string> VersionStrings(const std::vector<TResource>& Resources) {
  std::map<std::string, std::string> result;
  TVersionBlock root = ReadVersion(VersionResource(Resources));
  for (const TVersionBlock& info : root.Children)
    if (info.Key == u"StringFileInfo")
      for (const TVersionBlock& table : info.Children)
        for (const TVersionBlock& value : table.Children) result[Utf16ToUtf8(value.Key)] = TextOf(value.Value);
  return result;
}

void FixedFileVersion(const std::vector<TResource>& Resources, uint16_t Numbers[4]) {
  TVersionBlock root = ReadVersion(VersionResource(Resources));
  const uint32_t ms = Get32(root.Value, 8), ls = Get32(root.Value, 12);
  Numbers[0] = static_cast<uint16_t>(ms >> 16);
  Numbers[1] = static_cast<uint16_t>(ms);
  Numbers[2] = static_cast<uint16_t>(ls >> 16);
  Numbers[3] = static_cast<uint16_t>(ls);
}
