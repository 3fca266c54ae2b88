#include "pack/version_info.h"

#include <algorithm>
#include <utility>

#include "zip/utf8_text.h"

namespace {

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

TResource& VersionResource(std::vector<TResource>& Resources) {
  for (TResource& Resource : Resources)
    if (!Resource.Type.IsText && Resource.Type.Id == RtVersion) return Resource;
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
  Resource.Type = TResourceKey::Number(RtVersion);
  Resource.Name = TResourceKey::Number(1);
  Resource.Language = 0x0409;
  WriteBlock(Resource.Data, Root);
  return Resource;
}

}  // namespace

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
                   [](const TResource& R) { return !R.Type.IsText && R.Type.Id == RtVersion; }))
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
      for (const auto& [Key, Value] : Changes) {
        if (Value.empty()) continue;
        const std::u16string WideKey = Utf8ToUtf16(Key);
        auto It = std::find_if(Table.Children.begin(), Table.Children.end(),
                               [&](const TVersionBlock& B) { return B.Key == WideKey; });
        if (It == Table.Children.end()) {
          Table.Children.push_back(TVersionBlock{WideKey, 1, {}, {}});
          It = Table.Children.end() - 1;
        }
        It->Type = 1;
        It->Value = TextValue(Value);
      }
    }
  }
  if (!Tables) throw EPackError("the version information has no string table");
  TBytes Data;
  WriteBlock(Data, Root);
  Resource.Data = std::move(Data);
}
