// quintabel-pack's parts: the bundle check through the launcher's reader,
// the resource tree, icons and version information, and (on Windows, where
// the build has a launcher to read) the rewrite of a launcher image.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "bundle_layout/bundle_header.h"
#include "pack/bundle_check.h"
#include "pack/icon_file.h"
#include "pack/pack_tool.h"
#include "pack/pe_image.h"
#include "pack/resource_tree.h"
#include "pack/version_info.h"
#include "tests/launcher_test_support.h"
#include "tests/test_support.h"
#include "tests/zip_read_support.h"
#include "zip/utf8_text.h"

using qbtest::B;
using qbtest::BuildArchive;
using qbtest::TEntrySpec;

namespace {

qbtest::Bytes Dictionary() { return BuildArchive({TEntrySpec("base.txt", B("bonjour;hello\n"), 8)}); }

// An entry as zip writes it on Unix: host 3, the file's type and mode.
TEntrySpec UnixEntry(const std::string& Name, const std::string& Data, uint32_t Mode) {
  TEntrySpec Entry(Name, B(Data), 8);
  Entry.VersionMadeBy = 0x031E;
  Entry.ExternalAttributes = Mode << 16;
  return Entry;
}

// What the tests read back of a rewritten launcher, each as a reader of its
// own: the version information's strings and fixed file version, the
// section table and the archive the bundle section carries.
struct TVersionReadBack {
  std::map<std::u16string, std::u16string> Strings;  // key to value
  std::vector<uint16_t> FileVersion;
};

size_t Align4(size_t Value) { return (Value + 3) & ~static_cast<size_t>(3); }

// Reads the version block at Offset (length, value length, type, key, value,
// children) at nesting Depth into Read: the fixed part of the root, and the
// text values of the string tables under "StringFileInfo".
void ReadVersionBlock(const TBytes& Data, size_t Offset, int Depth, bool InStrings, TVersionReadBack& Read) {
  const size_t End = Offset + Get16(Data, Offset);
  const size_t ValueBytes = Get16(Data, Offset + 4) == 1 ? 2 * Get16(Data, Offset + 2) : Get16(Data, Offset + 2);
  std::u16string Key;
  size_t At = Offset + 6;
  for (; Get16(Data, At) != 0; At += 2) Key += static_cast<char16_t>(Get16(Data, At));
  At = Align4(At + 2);
  if (Depth == 0) {
    const uint32_t Ms = Get32(Data, At + 8), Ls = Get32(Data, At + 12);
    Read.FileVersion = {static_cast<uint16_t>(Ms >> 16), static_cast<uint16_t>(Ms), static_cast<uint16_t>(Ls >> 16),
                        static_cast<uint16_t>(Ls)};
  }
  if (Depth == 3 && InStrings) {
    std::u16string Text;
    for (size_t I = 0; I + 1 < ValueBytes && Get16(Data, At + I) != 0; I += 2)
      Text += static_cast<char16_t>(Get16(Data, At + I));
    Read.Strings[Key] = Text;
  }
  const bool ChildrenInStrings = InStrings || (Depth == 1 && Key == u"StringFileInfo");
  for (At = Align4(At + ValueBytes); At < End; At = Align4(At + Get16(Data, At)))
    ReadVersionBlock(Data, At, Depth + 1, ChildrenInStrings, Read);
}

TVersionReadBack ReadBackVersion(const std::vector<TResource>& Resources) {
  TVersionReadBack Read;
  for (const TResource& Resource : Resources)
    if (!Resource.Type.IsText && Resource.Type.Id == RtVersion) ReadVersionBlock(Resource.Data, 0, 0, false, Read);
  return Read;
}

// The section table of the PE image File, long names ("/offset") read from
// the string table.
std::vector<TSectionInfo> SectionsOf(const TBytes& File) {
  const size_t Header = Get32(File, 0x3C) + 4;
  const size_t Strings = Get32(File, Header + 8) + 18 * static_cast<size_t>(Get32(File, Header + 12));
  const size_t Table = Header + 20 + Get16(File, Header + 16);
  std::vector<TSectionInfo> Sections;
  for (size_t I = 0; I < Get16(File, Header + 2); ++I) {
    const size_t At = Table + 40 * I;
    TSectionInfo Section;
    Section.Name = std::string(reinterpret_cast<const char*>(&File[At]), 8).c_str();
    if (Section.Name[0] == '/')
      Section.Name = reinterpret_cast<const char*>(&File[Strings + std::stoul(Section.Name.substr(1))]);
    Section.VirtualSize = Get32(File, At + 8);
    Section.VirtualAddress = Get32(File, At + 12);
    Section.RawSize = Get32(File, At + 16);
    Section.RawOffset = Get32(File, At + 20);
    Sections.push_back(Section);
  }
  return Sections;
}

// The archive the bundle section of File carries; empty when there is none.
TBytes BundleOf(const TBytes& File) {
  for (const TSectionInfo& Section : SectionsOf(File)) {
    TEmbeddedBundle Found;
    if (Section.Name == ".qbundle" &&
        ReadBundleHeader(&File[Section.RawOffset], std::min(Section.RawSize, Section.VirtualSize), Found))
      return TBytes(Found.Data, Found.Data + Found.Length);
  }
  return {};
}

std::vector<TEntrySpec> GoodEntries() {
  return {UnixEntry("quintabel.exe", "MZ program", 0100755), TEntrySpec("swipl.home", B("quintabel5\n")),
          TEntrySpec("dereroz.zip", Dictionary()), TEntrySpec("lib/", {}),
          TEntrySpec("lib/prolog/init.pl", B(":- true.\n"), 8)};
}

// Each check runs with a temporary folder of its own, so that what it leaves
// there can be seen.
class BundleCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* Name : {"TEMP", "TMP", "TMPDIR"}) qbtest::SetEnv(Name, FScratch.Folder("temp"));
  }
  std::string Problem(const qbtest::Bytes& Archive, TBundleTarget Target = btPosix) {
    const std::string Path = FScratch.Path("bundle.zip");
    qbtest::WriteFile(Path, Archive);
    const TBundleCheck Check = CheckBundle(Path, Target);
    FWarnings = Check.Warnings;
    const std::string& Problem = Check.Problem;
    EXPECT_TRUE(qbtest::ListFolder(FScratch.Folder("temp")).empty()) << "the check left its scratch folder";
    EXPECT_EQ(qbtest::ListFolder(FScratch.Path("")), (std::vector<std::string>{"bundle.zip", "temp/"}))
        << "the check worked outside TEMP";
    return Problem;
  }
  qbtest::TEnvironmentGuard FSaved{"TEMP", "TMP", "TMPDIR"};
  qbtest::TScratchFolder FScratch;
  std::vector<std::string> FWarnings;
};

}  // namespace

TEST_F(BundleCheck, AcceptsWhatTheLauncherCanInstall) {
  EXPECT_EQ(Problem(BuildArchive(GoodEntries())), "");
  EXPECT_TRUE(FWarnings.empty());
}

TEST_F(BundleCheck, RefusesWhatIsNoZipArchiveFromItsFirstBytes) {
  EXPECT_NE(Problem(B("plain text, not an archive")).find("50 4B 03 04"), std::string::npos);
  qbtest::Bytes Prefixed = B("MZ stub ");
  const qbtest::Bytes Archive = BuildArchive(GoodEntries());
  Prefixed.insert(Prefixed.end(), Archive.begin(), Archive.end());
  EXPECT_NE(Problem(Prefixed).find("50 4B 03 04"), std::string::npos);
  EXPECT_NE(CheckBundle(FScratch.Path("absent.zip"), btPosix).Problem.find("cannot be read"), std::string::npos);
}

TEST_F(BundleCheck, NamesTheMissingRootEntries) {
  std::vector<TEntrySpec> Entries = GoodEntries();
  Entries.erase(Entries.begin() + 1);  // swipl.home
  Entries.push_back(TEntrySpec("lib/swipl.home", B(".")));
  EXPECT_EQ(Problem(BuildArchive(Entries)),
            "lacks the root entry \"swipl.home\" (a bundle must hold quintabel.exe, swipl.home and "
            "dereroz.zip at its root)");
  // A folder of that name is no runtime marker.
  Entries.push_back(TEntrySpec("swipl.home/", {}));
  EXPECT_NE(Problem(BuildArchive(Entries)).find("\"swipl.home\""), std::string::npos);
  EXPECT_NE(Problem(BuildArchive({TEntrySpec("other.txt", B("x"))}))
                .find("lacks the root entries \"quintabel.exe\", \"swipl.home\", \"dereroz.zip\""),
            std::string::npos);
}

TEST_F(BundleCheck, RefusesWhatTheLaunchersReaderRefuses) {
  // The reader takes the end record from the last 22 bytes only.
  const std::string Commented = Problem(BuildArchive(GoodEntries(), B("a comment")));
  EXPECT_NE(Commented.find("cannot be extracted by the launcher (EZipError: Corrupt ZIP file"), std::string::npos)
      << Commented;
  std::vector<TEntrySpec> Outside = GoodEntries();
  Outside.push_back(TEntrySpec("lib/../../evil.txt", B("x")));
  EXPECT_NE(Problem(BuildArchive(Outside)).find("leads outside the output folder"), std::string::npos);
  std::vector<TEntrySpec> Bzip2 = GoodEntries();
  Bzip2.push_back(TEntrySpec("lib/packed.bin", B("BZh91AY&SY"), 12));
  EXPECT_NE(Problem(BuildArchive(Bzip2)).find("Unsupported compression format 12"), std::string::npos);
}

TEST_F(BundleCheck, ExtractsTheDefaultDictionaryToo) {
  std::vector<TEntrySpec> Entries = GoodEntries();
  Entries[2] = TEntrySpec("dereroz.zip", B("not an archive at all, but long enough"));
  EXPECT_NE(Problem(BuildArchive(Entries)).find("holds a \"dereroz.zip\" that the launcher cannot extract"),
            std::string::npos);
}

TEST_F(BundleCheck, ExecutePermissionIsAskedOnlyForPosix) {
  std::vector<TEntrySpec> Entries = GoodEntries();
  Entries[0] = TEntrySpec("quintabel.exe", B("MZ program"), 8);  // made on Windows
  EXPECT_EQ(Problem(BuildArchive(Entries), btWindows), "");
  EXPECT_NE(Problem(BuildArchive(Entries)).find("no Unix mode, so a POSIX launcher"), std::string::npos);
  Entries[0] = UnixEntry("quintabel.exe", "MZ program", 0100644);
  EXPECT_NE(Problem(BuildArchive(Entries)).find("the Unix mode 644, so"), std::string::npos);
}

TEST_F(BundleCheck, WarnsOfAMarkerThatMissesTheWorkFolder) {
  // The marker, and the home it gives ("": no warning).
  const std::pair<const char*, const char*> Cases[] = {{"quintabel5 \r\n#\n", ""},
                                                       {"./quintabel5\\lib/x", ""},
                                                       {".\n", "the temporary folder itself"},
                                                       {"x/../..", "\"x/../..\" relative to the temporary folder"},
                                                       {"/opt/x", "\"/opt/x\""}};
  for (const auto& [Marker, Home] : Cases) {
    std::vector<TEntrySpec> Entries = GoodEntries();
    Entries[1] = TEntrySpec("swipl.home", B(Marker));
    EXPECT_EQ(Problem(BuildArchive(Entries)), "") << Marker;
    ASSERT_EQ(FWarnings.size(), *Home ? 1u : 0u) << Marker;
    if (*Home) {
      EXPECT_NE(FWarnings[0].find(std::string("take ") + Home + " as its home,"), std::string::npos);
    }
  }
}

TEST(PackTool, ChecksABundleAndRefusesWrongUsage) {
  // The arguments, the exit code and a part of what is said on the error output.
  const struct {
    std::vector<std::string> Arguments;
    int Code;
    std::string Said;
  } Cases[] = {
      {{"--launcher", "x.exe"}, 2, "--bundle is missing"},
      {{"--frobnicate"}, 2, "unknown argument \"--frobnicate\""},
      {{"--check=/nonexistent/bundle.zip"},
       1,
       "Invalid quintabel bundle \"/nonexistent/bundle.zip\": it cannot be read"},
      {{"--check", "b.zip", "--target", "macos"}, 2, "--target is posix or windows"},
      {{"--launcher", "a", "--bundle", "b", "--output", "c", "--version", "1.x"}, 1, "is not one to four numbers"},
  };
  for (const auto& [Arguments, Code, Said] : Cases) {
    SCOPED_TRACE(Said);
    std::string Out, Errors;
    EXPECT_EQ(RunPackTool(Arguments, Out, Errors), Code);
    EXPECT_NE(Errors.find(Said), std::string::npos) << Errors;
  }
}

TEST(PackVersion, ParsesOneToFourNumbers) {
  uint16_t N[4];
  ParseVersionNumbers("7", N);
  EXPECT_EQ(std::vector<uint16_t>(N, N + 4), (std::vector<uint16_t>{7, 0, 0, 0}));
  ParseVersionNumbers("1.22.333.65535", N);
  EXPECT_EQ(std::vector<uint16_t>(N, N + 4), (std::vector<uint16_t>{1, 22, 333, 65535}));
  for (const char* Bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "1.a", "v1", "1 .2"})
    EXPECT_THROW(ParseVersionNumbers(Bad, N), EPackError) << Bad;
}

namespace {

TResource Make(TResourceKey Type, TResourceKey Name, uint16_t Language, const std::string& Data) {
  TResource R;
  R.Type = Type;
  R.Name = Name;
  R.Language = Language;
  R.CodePage = Language == 0x0409 ? 1252 : 0;
  R.Data.assign(Data.begin(), Data.end());
  return R;
}

TResourceKey Text(const std::u16string& Value) { return TResourceKey{true, 0, Value}; }

bool Same(const TResource& A, const TResource& B) {
  return A.Type == B.Type && A.Name == B.Name && A.Language == B.Language && A.CodePage == B.CodePage &&
         A.Data == B.Data;
}

// A small .ico file with images of the given sizes, each image's bytes
// marked with its size.
TBytes IconFile(const std::vector<uint8_t>& Sizes) {
  TBytes File;
  Append16(File, 0);
  Append16(File, 1);
  Append16(File, static_cast<uint16_t>(Sizes.size()));
  uint32_t Offset = static_cast<uint32_t>(6 + 16 * Sizes.size());
  for (uint8_t Size : Sizes) {
    File.insert(File.end(), {Size, Size, 0, 0});
    Append16(File, 1);
    Append16(File, 32);
    Append32(File, 10u + Size);
    Append32(File, Offset);
    Offset += 10u + Size;
  }
  for (uint8_t Size : Sizes) File.insert(File.end(), 10u + Size, Size);
  return File;
}

}  // namespace

TEST(PackResources, SectionRoundTripsTextsNumbersAndLanguages) {
  const std::vector<TResource> Resources = {
      Make(TResourceKey::Number(RtManifest), TResourceKey::Number(1), 0x0409, "<assembly/>"),
      Make(Text(u"CUSTOM"), Text(u"Z\u00C9"), 0, "second"),
      Make(Text(u"CUSTOM"), Text(u"A"), 0x040C, std::string("with\0zero", 9)),
      Make(Text(u"CUSTOM"), Text(u"A"), 0x0409, "english"),
      Make(TResourceKey::Number(RtIcon), TResourceKey::Number(7), 0x0409, std::string(1000, 'i')),
  };
  const uint32_t Rva = 0x6D000;
  const TBytes Section = BuildResourceSection(Resources, Rva);
  const std::vector<TResource> Back = ReadResourceSection(Section, Rva);
  ASSERT_EQ(Back.size(), Resources.size());
  for (const TResource& Original : Resources)
    EXPECT_EQ(std::count_if(Back.begin(), Back.end(), [&](const TResource& R) { return Same(R, Original); }), 1);
  // The tree's order: named types before numbered ones, ascending.
  EXPECT_TRUE(Back[0].Type.IsText);
  EXPECT_EQ(Back[0].Name.Text, u"A");
  EXPECT_EQ(Back[0].Language, 0x0409);
  EXPECT_EQ(Back.back().Type.Id, RtManifest);
  // Read at another address, the data entries point outside.
  EXPECT_THROW(ReadResourceSection(Section, Rva + 0x10000), EPackError);
  TBytes Cut(Section.begin(), Section.begin() + 40);
  EXPECT_THROW(ReadResourceSection(Cut, Rva), EPackError);
}

TEST(PackResources, IconReplacesEveryIconAndKeepsTheGroupName) {
  std::vector<TResource> Resources = {
      Make(TResourceKey::Number(RtIcon), TResourceKey::Number(1), 0x0409, "old1"),
      Make(TResourceKey::Number(RtIcon), TResourceKey::Number(2), 0x0409, "old2"),
      Make(TResourceKey::Number(RtIcon), TResourceKey::Number(3), 0x0409, "old3"),
      Make(TResourceKey::Number(RtGroupIcon), Text(u"MAINICON"), 0x0409, "oldgroup"),
      Make(TResourceKey::Number(RtManifest), TResourceKey::Number(1), 0x0409, "<assembly/>"),
  };
  const std::vector<TIconImage> Images = ReadIconFile(IconFile({16, 32}));
  ASSERT_EQ(Images.size(), 2u);
  EXPECT_EQ(Images[1].Width, 32);
  EXPECT_EQ(Images[1].Data, TBytes(42, 32));
  ReplaceIcon(Resources, Images);

  std::vector<TResource> Icons, Groups;
  for (const TResource& R : Resources) {
    if (R.Type == TResourceKey::Number(RtIcon)) Icons.push_back(R);
    if (R.Type == TResourceKey::Number(RtGroupIcon)) Groups.push_back(R);
  }
  ASSERT_EQ(Icons.size(), 2u);
  ASSERT_EQ(Groups.size(), 1u);
  EXPECT_EQ(Groups[0].Name.Text, u"MAINICON");
  EXPECT_EQ(Resources.size(), 4u);  // the manifest stays
  // The group: header, then one 14-byte entry per image naming its icon.
  const TBytes& Group = Groups[0].Data;
  ASSERT_EQ(Group.size(), 6u + 2 * 14);
  EXPECT_EQ(Get16(Group, 4), 2);
  for (int I = 0; I < 2; ++I) {
    const size_t Entry = 6 + 14 * I;
    const uint16_t Id = Get16(Group, Entry + 12);
    auto Icon = std::find_if(Icons.begin(), Icons.end(), [&](const TResource& R) { return R.Name.Id == Id; });
    ASSERT_NE(Icon, Icons.end());
    EXPECT_EQ(Icon->Data, Images[I].Data);
    EXPECT_EQ(Group[Entry], Images[I].Width);
    EXPECT_EQ(Get32(Group, Entry + 8), Images[I].Data.size());
  }
}

TEST(PackResources, IconFileThatIsNoIconIsRefused) {
  EXPECT_THROW(ReadIconFile(TBytes{'P', 'N', 'G', 0, 0, 0}), EPackError);
  TBytes Cut = IconFile({16});
  Cut.resize(Cut.size() - 1);
  EXPECT_THROW(ReadIconFile(Cut), EPackError);
}

TEST(PackResources, VersionInformationChangesOnlyTheFieldsGiven) {
  std::vector<TResource> Resources;
  TVersionFields First;
  First.ProductName = "First";
  First.CompanyName = "Company";
  First.Version = "1.2.3.4";
  EditVersionInfo(Resources, First);  // made from nothing
  ASSERT_EQ(Resources.size(), 1u);

  TVersionFields Second;
  Second.ProductName = "Mon appli \xC3\xA9t\xC3\xA9";
  Second.Version = "5.6";
  Second.Copyright = "(C) 2026";
  EditVersionInfo(Resources, Second);
  const std::map<std::u16string, std::u16string> Strings = ReadBackVersion(Resources).Strings;
  EXPECT_EQ(Strings.at(u"ProductName"), Utf8ToUtf16(Second.ProductName));
  EXPECT_EQ(Strings.at(u"CompanyName"), u"Company");
  EXPECT_EQ(Strings.at(u"LegalCopyright"), u"(C) 2026");
  EXPECT_EQ(Strings.at(u"FileVersion"), u"5.6");
  EXPECT_EQ(Strings.at(u"ProductVersion"), u"5.6");
  EXPECT_EQ(Strings.count(u"FileDescription"), 0u);
  EXPECT_EQ(Strings.count(u"InternalName"), 0u);
  TVersionFields Named;
  Named.OriginalFilename = "MyApp.exe";
  EditVersionInfo(Resources, Named);
  EXPECT_EQ(ReadBackVersion(Resources).Strings.at(u"OriginalFilename"), u"MyApp.exe");
  EXPECT_EQ(ReadBackVersion(Resources).Strings.at(u"InternalName"), u"MyApp");
  EXPECT_EQ(ReadBackVersion(Resources).FileVersion, (std::vector<uint16_t>{5, 6, 0, 0}));
  // The block lengths add up: the root's length is the resource's size.
  EXPECT_EQ(Get16(Resources[0].Data, 0), Resources[0].Data.size());
}

namespace {

// A small PE32+ image laid out here byte by byte the way the linker and
// objcopy lay out a launcher: code, resources, base relocations, the bundle
// section and ".gnu_debuglink" (a long name, from the string table), and
// optionally an appended signature.
struct TSyntheticSection {
  std::string Name;
  TBytes Data;
  uint32_t Characteristics = 0x40000040;
};

struct TSynthetic {
  std::vector<TSyntheticSection> Sections;
  bool Signature = false;
  uint32_t RelocatedPage = 0x1000;  // the page the one relocation block covers
  uint32_t ExceptionDirectory = 0x1100;
  uint32_t SymbolCount = 0;
};

constexpr uint32_t SyntheticPe = 0x40, SyntheticOptional = 0x40 + 24, SyntheticTable = 0x40 + 24 + 240;

TBytes BuildSynthetic(const TSynthetic& Layout) {
  TBytes File(0x400, 0);
  File[0] = 'M';
  File[1] = 'Z';
  Put32(File, 0x3C, SyntheticPe);
  File[SyntheticPe] = 'P';
  File[SyntheticPe + 1] = 'E';
  Put16(File, SyntheticPe + 4, 0x8664);
  Put16(File, SyntheticPe + 6, static_cast<uint16_t>(Layout.Sections.size()));
  Put32(File, SyntheticPe + 16, Layout.SymbolCount);
  Put16(File, SyntheticPe + 20, 240);
  Put16(File, SyntheticOptional, 0x20B);
  Put32(File, SyntheticOptional + 32, 0x1000);  // section alignment
  Put32(File, SyntheticOptional + 36, 0x200);   // file alignment
  Put32(File, SyntheticOptional + 60, 0x400);   // size of headers
  Put32(File, SyntheticOptional + 108, 16);
  Put32(File, SyntheticOptional + 112 + 8 * 3, Layout.ExceptionDirectory);
  Put32(File, SyntheticOptional + 112 + 8 * 3 + 4, 0x10);
  TBytes Strings = {0, 0, 0, 0};
  uint32_t Address = 0x1000;
  for (size_t I = 0; I < Layout.Sections.size(); ++I) {
    const TSyntheticSection& Section = Layout.Sections[I];
    const size_t Header = SyntheticTable + 40 * I;
    std::string Name = Section.Name;
    if (Name.size() > 8) {
      const size_t Offset = Strings.size();
      Strings.insert(Strings.end(), Name.begin(), Name.end());
      Strings.push_back(0);
      Name = "/" + std::to_string(Offset);
    }
    std::copy(Name.begin(), Name.end(), File.begin() + Header);
    Put32(File, Header + 8, static_cast<uint32_t>(Section.Data.size()));
    Put32(File, Header + 12, Address);
    Put32(File, Header + 16, static_cast<uint32_t>(AlignUp(Section.Data.size(), 0x200)));
    Put32(File, Header + 20, static_cast<uint32_t>(File.size()));
    Put32(File, Header + 36, Section.Characteristics);
    if (Section.Name == ".rsrc") {
      Put32(File, SyntheticOptional + 112 + 8 * 2, Address);
      Put32(File, SyntheticOptional + 112 + 8 * 2 + 4, static_cast<uint32_t>(Section.Data.size()));
    }
    if (Section.Name == ".reloc") {
      Put32(File, SyntheticOptional + 112 + 8 * 5, Address);
      Put32(File, SyntheticOptional + 112 + 8 * 5 + 4, static_cast<uint32_t>(Section.Data.size()));
    }
    File.insert(File.end(), Section.Data.begin(), Section.Data.end());
    PadTo(File, 0x200);
    Address += static_cast<uint32_t>(AlignUp(std::max<size_t>(Section.Data.size(), 1), 0x1000));
  }
  Put32(File, SyntheticOptional + 56, Address);
  Put32(Strings, 0, static_cast<uint32_t>(Strings.size()));
  Put32(File, SyntheticPe + 12, static_cast<uint32_t>(File.size()));
  File.insert(File.end(), Strings.begin(), Strings.end());
  if (Layout.Signature) {
    PadTo(File, 8);
    Put32(File, SyntheticOptional + 112 + 8 * 4, static_cast<uint32_t>(File.size()));
    Put32(File, SyntheticOptional + 112 + 8 * 4 + 4, 32);
    File.insert(File.end(), 32, 0x5A);
  }
  return File;
}

TBytes BundleSection(const TBytes& Archive) {
  TBytes Data(BundleHeaderSize);
  WriteBundleHeader(Archive.size(), Data.data());
  Data.insert(Data.end(), Archive.begin(), Archive.end());
  return Data;
}

TSynthetic SyntheticLauncher(const TBytes& Archive, const std::vector<TResource>& Resources) {
  TSynthetic Layout;
  Layout.Sections.push_back({".text", TBytes(0x300, 0xCC), 0x60000020});
  Layout.Sections.push_back({".rsrc", BuildResourceSection(Resources, 0x2000)});
  TBytes Relocations;
  Append32(Relocations, Layout.RelocatedPage);
  Append32(Relocations, 12);
  Append16(Relocations, 0xA010);
  Append16(Relocations, 0xA020);
  Layout.Sections.push_back({".reloc", Relocations, 0x42000040});
  Layout.Sections.push_back({".qbundle", BundleSection(Archive)});
  Layout.Sections.push_back({".gnu_debuglink",
                             TBytes{'l', 'a', 'u', 'n', 'c', 'h', 'e', 'r', '.', 'd', 'b', 'g', 0, 0, 0, 0, 1, 2, 3, 4},
                             0x42000040});
  return Layout;
}

std::string RefusalOf(const TBytes& File) {
  try {
    TLauncherImage Image(File);
  } catch (const EPackError& Failure) {
    return Failure.Message();
  }
  return "accepted";
}

std::vector<TResource> SomeResources() {
  std::vector<TResource> Resources = {
      Make(TResourceKey::Number(RtManifest), TResourceKey::Number(1), 0x0409, "<assembly>asInvoker</assembly>")};
  TVersionFields Fields;
  Fields.ProductName = "Demo";
  Fields.Version = "1.0";
  EditVersionInfo(Resources, Fields);
  return Resources;
}

}  // namespace

TEST(PackSynthetic, RewriteMovesTheTailAndKeepsTheRest) {
  const TBytes First(300, 'a'), Second(10000, 'b');
  TSynthetic Layout = SyntheticLauncher(First, SomeResources());
  Layout.Signature = true;
  const TBytes Original = BuildSynthetic(Layout);
  const TLauncherImage Launcher(Original);
  EXPECT_EQ(BundleOf(Original), First);
  EXPECT_TRUE(Launcher.Signed());
  ASSERT_EQ(SectionsOf(Original).size(), 5u);
  EXPECT_EQ(SectionsOf(Original)[4].Name, ".gnu_debuglink");

  std::vector<TResource> Resources = Launcher.Resources();
  ReplaceIcon(Resources, ReadIconFile(IconFile({16, 48})));
  TVersionFields Fields;
  Fields.Version = "3.4.5.6";
  EditVersionInfo(Resources, Fields);
  const TBytes Packed = Launcher.Rewrite(Second, Resources);

  const TLauncherImage Again(Packed);
  EXPECT_EQ(BundleOf(Packed), Second);
  EXPECT_FALSE(Again.Signed());
  EXPECT_EQ(ReadBackVersion(Again.Resources()).Strings.at(u"FileVersion"), u"3.4.5.6");
  EXPECT_EQ(ReadBackVersion(Again.Resources()).Strings.at(u"ProductName"), u"Demo");
  // The code stays where it was, byte for byte.
  const std::vector<TSectionInfo> Moved = SectionsOf(Packed);
  EXPECT_EQ(Moved[0].VirtualAddress, 0x1000u);
  EXPECT_TRUE(std::equal(Original.begin() + 0x400, Original.begin() + 0x700, Packed.begin() + 0x400));
  // The sections after the resources moved up in address and file order,
  // and the data directories followed them.
  for (size_t I = 1; I < Moved.size(); ++I) {
    EXPECT_GT(Moved[I].VirtualAddress, Moved[I - 1].VirtualAddress);
    EXPECT_EQ(Moved[I].VirtualAddress % 0x1000, 0u);
    EXPECT_EQ(Moved[I].RawOffset % 0x200, 0u);
    EXPECT_GE(Moved[I].RawOffset, Moved[I - 1].RawOffset + Moved[I - 1].RawSize);
  }
  EXPECT_EQ(Get32(Packed, SyntheticOptional + 112 + 8 * 5), Moved[2].VirtualAddress);
  EXPECT_EQ(Get32(Packed, SyntheticOptional + 112 + 8 * 2), Moved[1].VirtualAddress);
  EXPECT_EQ(Get32(Packed, SyntheticOptional + 112 + 8 * 3), 0x1100u);  // untouched
  EXPECT_EQ(Get32(Packed, SyntheticOptional + 56), Moved[4].VirtualAddress + 0x1000);
  // The long name still resolves, the string table is the file's end, and
  // the checksum is the file's.
  EXPECT_EQ(Moved[4].Name, ".gnu_debuglink");
  EXPECT_EQ(Get32(Packed, SyntheticPe + 12) + Get32(Packed, Get32(Packed, SyntheticPe + 12)), Packed.size());
  EXPECT_EQ(Get32(Packed, SyntheticOptional + 64), PeChecksum(Packed, SyntheticOptional + 64));
  // Packing the packed launcher again gives the same file.
  EXPECT_EQ(Again.Rewrite(Second, Again.Resources()), Packed);
}

#ifndef _WIN32
// A write that fails half-way (here the file-size limit, in the field a full
// disk) leaves neither the output nor a half-written file beside it.
TEST(PackTool, OutputThatCannotBeWrittenWholeLeavesNothing) {
  qbtest::TScratchFolder Scratch;
  const std::string Launcher = Scratch.Path("launcher.exe"), Bundle = Scratch.Path("bundle.zip");
  const std::string Output = Scratch.Path("MyApp.exe");
  qbtest::WriteFile(Launcher, BuildSynthetic(SyntheticLauncher(TBytes(100, 'z'), SomeResources())));
  qbtest::WriteFile(Bundle, BuildArchive(GoodEntries()));
  constexpr rlim_t SizeLimit = 1536;  // above every file of the bundle, below the output
  const std::string Temp = Scratch.Folder("temp");
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit Limit = {SizeLimit, SizeLimit};
    setrlimit(RLIMIT_FSIZE, &Limit);
    for (const char* Name : {"TEMP", "TMP", "TMPDIR"}) setenv(Name, Temp.c_str(), 1);
    std::string Out, Errors;
    const int Code = RunPackTool({"--launcher", Launcher, "--bundle", Bundle, "--output", Output}, Out, Errors);
    _exit(Code == 1 && Errors.find("write error") != std::string::npos ? 0 : 10 + Code);
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0) << "the pack did not fail on writing its output";
  EXPECT_EQ(qbtest::ListFolder(Scratch.Path("")), (std::vector<std::string>{"bundle.zip", "launcher.exe", "temp/"}));
}
#endif

TEST(PackSynthetic, RefusesWhatItCannotRewriteSafely) {
  const TBytes Archive(100, 'z');
  TSynthetic Good = SyntheticLauncher(Archive, SomeResources());
  EXPECT_EQ(RefusalOf(BuildSynthetic(Good)), "accepted");

  // A change to the layout and the refusal it meets.
  const struct {
    void (*Change)(TSynthetic&);
    std::string Refusal;
  } Cases[] = {
      {[](TSynthetic& Layout) { Layout.Sections.erase(Layout.Sections.begin() + 3); },
       "it is not a quintabel launcher (it has no bundle section)"},
      {[](TSynthetic& Layout) { Layout.Sections[3].Data[0] = 'X'; },
       "its bundle section does not begin with the bundle header"},
      {[](TSynthetic& Layout) { Put32(Layout.Sections[3].Data, 16, 1000); },
       "its bundle section does not begin with the bundle header"},
      {[](TSynthetic& Layout) {
         Layout.Sections.insert(Layout.Sections.begin() + 3, {".data2", TBytes(16, 1)});
       },
       "its section .data2 follows the resources (not a layout quintabel-pack knows)"},
      {[](TSynthetic& Layout) {
         Layout.RelocatedPage = 0x4000;
         Put32(Layout.Sections[2].Data, 0, 0x4000);
       },
       "a base relocation lies in the sections that would move"},
      {[](TSynthetic& Layout) { Layout.ExceptionDirectory = 0x4010; },
       "its data directory 3 points into the sections that would move"},
  };
  for (const auto& [Change, Refusal] : Cases) {
    SCOPED_TRACE(Refusal);
    TSynthetic Changed = Good;
    Change(Changed);
    EXPECT_EQ(RefusalOf(BuildSynthetic(Changed)), Refusal);
  }

  TSynthetic Symbols = Good;
  Symbols.SymbolCount = 0;
  TBytes WithSymbols = BuildSynthetic(Symbols);
  // One symbol record in front of the string table.
  const uint32_t Table = Get32(WithSymbols, SyntheticPe + 12);
  WithSymbols.insert(WithSymbols.begin() + Table, 18, 0);
  Put32(WithSymbols, SyntheticPe + 16, 1);
  EXPECT_EQ(RefusalOf(WithSymbols), "it still carries a symbol table (it is not a stripped release build)");

  TBytes I386 = BuildSynthetic(Good);
  Put16(I386, SyntheticPe + 4, 0x14C);
  EXPECT_EQ(RefusalOf(I386), "it is not a 64-bit (x86-64) Windows executable");
  TBytes Cut = BuildSynthetic(Good);
  Cut.resize(0x900);
  EXPECT_NE(RefusalOf(Cut).find("lies outside the file"), std::string::npos) << RefusalOf(Cut);
}

#ifdef QB_TEST_LAUNCHER
// The launcher this build made, with the default bundle in it.
TEST(PackImage, RewritesTheBundleAndKeepsEverythingBeforeIt) {
  const TBytes Original = B(qbtest::ReadFile(BuildTreePath(QB_TEST_LAUNCHER)));
  const TLauncherImage Launcher(Original);
  EXPECT_EQ(BundleOf(Original), B(qbtest::ReadFile(BuildTreePath(QB_TEST_LAUNCHER_BUNDLE))));
  EXPECT_FALSE(Launcher.Signed());

  const TBytes Bundle = BuildArchive(GoodEntries());
  std::vector<TResource> Resources = Launcher.Resources();
  TVersionFields Fields;
  Fields.Description = "Rewritten";
  EditVersionInfo(Resources, Fields);
  const TBytes Packed = Launcher.Rewrite(Bundle, Resources);
  const TLauncherImage Again(Packed);
  EXPECT_EQ(BundleOf(Packed), Bundle);
  EXPECT_EQ(ReadBackVersion(Again.Resources()).Strings.at(u"FileDescription"), u"Rewritten");

  // Code and data keep their places: the sections before the resources are
  // the same bytes at the same addresses.
  size_t Compared = 0;
  const std::vector<TSectionInfo> OldSections = SectionsOf(Original), NewSections = SectionsOf(Packed);
  for (size_t I = 0; I < OldSections.size(); ++I) {
    const TSectionInfo& Before = OldSections[I];
    const TSectionInfo& After = NewSections[I];
    EXPECT_EQ(Before.Name, After.Name);
    if (Before.Name == ".rsrc") break;
    EXPECT_EQ(Before.VirtualAddress, After.VirtualAddress);
    EXPECT_TRUE(std::equal(Original.begin() + Before.RawOffset, Original.begin() + Before.RawOffset + Before.RawSize,
                           Packed.begin() + After.RawOffset));
    ++Compared;
  }
  EXPECT_GE(Compared, 5u);
  const uint32_t ChecksumOffset = Get32(Packed, 0x3C) + 24 + 64;
  EXPECT_EQ(Get32(Packed, ChecksumOffset), PeChecksum(Packed, ChecksumOffset));
}

TEST(PackImage, RefusesAnExecutableWithoutABundleSection) {
  // This test program is a Windows executable, but no launcher.
  const TBytes Self = B(qbtest::ReadFile(BuildTreePath(QB_TEST_SELF)));
  EXPECT_EQ(RefusalOf(Self), "it is not a quintabel launcher (it has no bundle section)");
  EXPECT_THROW(TLauncherImage(TBytes(100, 'M')), EPackError);
}
#endif
