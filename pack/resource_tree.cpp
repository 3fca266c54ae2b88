#include "pack/resource_tree.h"

#include <algorithm>
#include <map>

namespace {

constexpr uint32_t HighBit = 0x80000000u;

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

void AppendKeyField(TBytes& Out, size_t At, const TResourceKey& Key, std::map<std::u16string, size_t>& Strings) {
  Put32(Out, At, Key.IsText ? static_cast<uint32_t>(HighBit | Strings.at(Key.Text)) : Key.Id);
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
  for (const auto& [Type, Names] : Tree) {
    NoteText(Type);
    Directories += DirectorySize(Names.size());
    for (const auto& [Name, Languages] : Names) {
      NoteText(Name);
      Directories += DirectorySize(Languages.size());
      Leaves += Languages.size();
    }
  }
  TBytes Output(Directories + 16 * Leaves, 0);
  for (auto& [Text, Offset] : Strings) {
    Offset = Output.size();
    Append16(Output, static_cast<uint16_t>(Text.size()));
    for (char16_t C : Text) Append16(Output, C);
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
  for (const auto& [Type, Names] : Tree) {
    const size_t TypeEntry = Root + 16 + 8 * TypeIndex++;
    AppendKeyField(Output, TypeEntry, Type, Strings);
    const size_t NameDirectory = StartDirectory(CountTexts(Names), Names.size() - CountTexts(Names));
    Put32(Output, TypeEntry + 4, static_cast<uint32_t>(HighBit | NameDirectory));
    size_t NameIndex = 0;
    for (const auto& [Name, Languages] : Names) {
      const size_t NameEntry = NameDirectory + 16 + 8 * NameIndex++;
      AppendKeyField(Output, NameEntry, Name, Strings);
      const size_t LanguageDirectory = StartDirectory(0, Languages.size());
      Put32(Output, NameEntry + 4, static_cast<uint32_t>(HighBit | LanguageDirectory));
      size_t LanguageIndex = 0;
      for (const auto& [Language, Resource] : Languages) {
        const size_t LanguageEntry = LanguageDirectory + 16 + 8 * LanguageIndex++;
        Put32(Output, LanguageEntry, Language);
        Put32(Output, LanguageEntry + 4, static_cast<uint32_t>(NextLeaf));
        PadTo(Output, 8);
        Put32(Output, NextLeaf, static_cast<uint32_t>(SectionRva + Output.size()));
        Put32(Output, NextLeaf + 4, static_cast<uint32_t>(Resource->Data.size()));
        Put32(Output, NextLeaf + 8, Resource->CodePage);
        NextLeaf += 16;
        Output.insert(Output.end(), Resource->Data.begin(), Resource->Data.end());
      }
    }
  }
  PadTo(Output, 8);
  return Output;
}
