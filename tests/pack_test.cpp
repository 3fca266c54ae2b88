// quintabel-pack's parts: the bundle check through the launcher's reader,
// the resource tree, icons and version information, and (on Windows, where
// the build has a launcher to read) the rewrite of a launcher image.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pack/bundle_check.h"
#include "pack/pack_tool.h"
#include "pack/pe_image.h"
#include "launcher/bundle_header.h"
#include "pack/pe_resources.h"
#include "tests/launcher_test_support.h"
#include "tests/test_support.h"
#include "tests/zip_read_support.h"

using zipr::B;
using zipr::BuildArchive;
using zipr::TEntrySpec;

namespace {

zipr::Bytes Dictionary() { return BuildArchive({TEntrySpec("base.txt", B("bonjour;hello\n"), 8)}); }

std::vector<TEntrySpec> GoodEntries() {
  return {TEntrySpec("quintabel.exe", B("MZ program"), 8), TEntrySpec("swipl.home", B(".")),
          TEntrySpec("dereroz.zip", Dictionary()), TEntrySpec("lib/", {}),
          TEntrySpec("lib/prolog/init.pl", B(":- true.\n"), 8)};
}

// Each check runs with a temporary folder of its own, so that what it leaves
// there can be seen.
class BundleCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"TEMP", "TMP", "TMPDIR"}) qbtest::SetEnv(name, Scratch.Folder("temp"));
  }
  std::string Problem(const zipr::Bytes& Archive) {
    const std::string path = Scratch.Path("bundle.zip");
    qbtest::WriteFile(path, Archive);
    const std::string problem = BundleProblem(path);
    EXPECT_TRUE(zipr::ListFolder(Scratch.Folder("temp")).empty()) << "the check left its scratch folder";
    EXPECT_EQ(zipr::ListFolder(Scratch.Path("")), (std::vector<std::string>{"bundle.zip", "temp/"}))
        << "the check worked outside TEMP";
    return problem;
  }
  qbtest::TEnvironmentGuard Saved{"TEMP", "TMP", "TMPDIR"};
  qbtest::TScratchFolder Scratch;
};

}  // namespace

TEST_F(BundleCheck, AcceptsWhatTheLauncherCanInstall) { EXPECT_EQ(Problem(BuildArchive(GoodEntries())), ""); }

TEST_F(BundleCheck, RefusesWhatIsNoZipArchiveFromItsFirstBytes) {
  EXPECT_NE(Problem(B("plain text, not an archive")).find("50 4B 03 04"), std::string::npos);
  zipr::Bytes prefixed = B("MZ stub ");
  const zipr::Bytes archive = BuildArchive(GoodEntries());
  prefixed.insert(prefixed.end(), archive.begin(), archive.end());
  EXPECT_NE(Problem(prefixed).find("50 4B 03 04"), std::string::npos);
  EXPECT_NE(BundleProblem(Scratch.Path("absent.zip")).find("cannot be read"), std::string::npos);
}

TEST_F(BundleCheck, NamesTheMissingRootEntries) {
  std::vector<TEntrySpec> entries = GoodEntries();
  entries.erase(entries.begin() + 1);  // swipl.home
  entries.push_back(TEntrySpec("lib/swipl.home", B(".")));
  EXPECT_EQ(Problem(BuildArchive(entries)),
            "lacks the root entry \"swipl.home\" (a bundle must hold quintabel.exe, swipl.home and "
            "dereroz.zip at its root)");
  // A folder of that name is no runtime marker.
  entries.push_back(TEntrySpec("swipl.home/", {}));
  EXPECT_NE(Problem(BuildArchive(entries)).find("\"swipl.home\""), std::string::npos);
  EXPECT_NE(Problem(BuildArchive({TEntrySpec("other.txt", B("x"))}))
                .find("lacks the root entries \"quintabel.exe\", \"swipl.home\", \"dereroz.zip\""),
            std::string::npos);
}

TEST_F(BundleCheck, RefusesWhatTheLaunchersReaderRefuses) {
  // The reader takes the end record from the last 22 bytes only.
  const std::string commented = Problem(BuildArchive(GoodEntries(), B("a comment")));
  EXPECT_NE(commented.find("cannot be extracted by the launcher (EZipError: Corrupt ZIP file"), std::string::npos)
      << commented;
  std::vector<TEntrySpec> outside = GoodEntries();
  outside.push_back(TEntrySpec("lib/../../evil.txt", B("x")));
  EXPECT_NE(Problem(BuildArchive(outside)).find("leads outside the output folder"), std::string::npos);
  std::vector<TEntrySpec> bzip2 = GoodEntries();
  bzip2.push_back(TEntrySpec("lib/packed.bin", B("BZh91AY&SY"), 12));
  EXPECT_NE(Problem(BuildArchive(bzip2)).find("Unsupported compression format 12"), std::string::npos);
}

TEST_F(BundleCheck, ExtractsTheDefaultDictionaryToo) {
  std::vector<TEntrySpec> entries = GoodEntries();
  entries[2] = TEntrySpec("dereroz.zip", B("not an archive at all, but long enough"));
  EXPECT_NE(Problem(BuildArchive(entries)).find("holds a \"dereroz.zip\" that the launcher cannot extract"),
            std::string::npos);
}

TEST(PackTool, ChecksABundleAndRefusesWrongUsage) {
  std::string out, errors;
  EXPECT_EQ(RunPackTool({"--launcher", "x.exe"}, out, errors), 2);
  EXPECT_NE(errors.find("--bundle is missing"), std::string::npos) << errors;
  errors.clear();
  EXPECT_EQ(RunPackTool({"--frobnicate"}, out, errors), 2);
  EXPECT_NE(errors.find("unknown argument \"--frobnicate\""), std::string::npos);
  errors.clear();
  EXPECT_EQ(RunPackTool({"--check=/nonexistent/bundle.zip"}, out, errors), 1);
  EXPECT_NE(errors.find("Invalid quintabel bundle \"/nonexistent/bundle.zip\": it cannot be read"),
            std::string::npos)
      << errors;
  errors.clear();
  EXPECT_EQ(RunPackTool({"--launcher", "a", "--bundle", "b", "--output", "c", "--version", "1.x"}, out, errors), 1);
  EXPECT_NE(errors.find("is not one to four numbers"), std::string::npos) << errors;
}

TEST(PackText, Utf8AndUtf16RoundTripOutsideTheBasicPlane) {
  const std::string text = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";  // é, €, an emoji
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, std::u16string(u"Caf\u00E9 \u20AC \U0001F600"));
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  // Bytes that are no UTF-8 become U+FFFD, one each, and the rest survives.
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b\xC3"), std::u16string(u"a\uFFFDb\uFFFD"));
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\xAF"), std::u16string(u"\uFFFD\uFFFD\uFFFD"));  // overlong
}

TEST(PackVersion, ParsesOneToFourNumbers) {
  uint16_t n[4];
  ParseVersionNumbers("7", n);
  EXPECT_EQ(std::vector<uint16_t>(n, n + 4), (std::vector<uint16_t>{7, 0, 0, 0}));
  ParseVersionNumbers("1.22.333.65535", n);
  EXPECT_EQ(std::vector<uint16_t>(n, n + 4), (std::vector<uint16_t>{1, 22, 333, 65535}));
  for (const char* bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "1.a", "v1", "1 .2"})
    EXPECT_THROW(ParseVersionNumbers(bad, n), EPackError) << bad;
}

namespace {

TResource Make(TResourceKey Type, TResourceKey Name, uint16_t Language, const std::string& Data) {
  TResource r;
  r.Type = Type;
  r.Name = Name;
  r.Language = Language;
  r.CodePage = Language == 0x0409 ? 1252 : 0;
  r.Data.assign(Data.begin(), Data.end());
  return r;
}

TResourceKey Text(const std::u16string& Value) { return TResourceKey{true, 0, Value}; }

bool Same(const TResource& A, const TResource& B) {
  return A.Type == B.Type && A.Name == B.Name && A.Language == B.Language && A.CodePage == B.CodePage &&
         A.Data == B.Data;
}

// A small .ico file with images of the given sizes, each image's bytes
// marked with its size.
TBytes IconFile(const std::vector<uint8_t>& Sizes) {
  TBytes file;
  Append16(file, 0);
  Append16(file, 1);
  Append16(file, static_cast<uint16_t>(Sizes.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * Sizes.size());
  for (uint8_t size : Sizes) {
    file.insert(file.end(), {size, size, 0, 0});
    Append16(file, 1);
    Append16(file, 32);
    Append32(file, 10u + size);
    Append32(file, offset);
    offset += 10u + size;
  }
  for (uint8_t size : Sizes) file.insert(file.end(), 10u + size, size);
  return file;
}

}  // namespace

TEST(PackResources, SectionRoundTripsTextsNumbersAndLanguages) {
  const std::vector<TResource> resources = {
      Make(TResourceKey::Number(rtManifest), TResourceKey::Number(1), 0x0409, "<assembly/>"),
      Make(Text(u"CUSTOM"), Text(u"Z\u00C9"), 0, "second"),
      Make(Text(u"CUSTOM"), Text(u"A"), 0x040C, std::string("with\0zero", 9)),
      Make(Text(u"CUSTOM"), Text(u"A"), 0x0409, "english"),
      Make(TResourceKey::Number(rtIcon), TResourceKey::Number(7), 0x0409, std::string(1000, 'i')),
  };
  const uint32_t rva = 0x6D000;
  const TBytes section = BuildResourceSection(resources, rva);
  const std::vector<TResource> back = ReadResourceSection(section, rva);
  ASSERT_EQ(back.size(), resources.size());
  for (const TResource& original : resources)
    EXPECT_EQ(std::count_if(back.begin(), back.end(), [&](const TResource& R) { return Same(R, original); }), 1);
  // The tree's order: named types before numbered ones, ascending.
  EXPECT_TRUE(back[0].Type.IsText);
  EXPECT_EQ(back[0].Name.Text, u"A");
  EXPECT_EQ(back[0].Language, 0x0409);
  EXPECT_EQ(back.back().Type.Id, rtManifest);
  // Read at another address, the data entries point outside.
  EXPECT_THROW(ReadResourceSection(section, rva + 0x10000), EPackError);
  TBytes cut(section.begin(), section.begin() + 40);
  EXPECT_THROW(ReadResourceSection(cut, rva), EPackError);
}

TEST(PackResources, IconReplacesEveryIconAndKeepsTheGroupName) {
  std::vector<TResource> resources = {
      Make(TResourceKey::Number(rtIcon), TResourceKey::Number(1), 0x0409, "old1"),
      Make(TResourceKey::Number(rtIcon), TResourceKey::Number(2), 0x0409, "old2"),
      Make(TResourceKey::Number(rtIcon), TResourceKey::Number(3), 0x0409, "old3"),
      Make(TResourceKey::Number(rtGroupIcon), Text(u"MAINICON"), 0x0409, "oldgroup"),
      Make(TResourceKey::Number(rtManifest), TResourceKey::Number(1), 0x0409, "<assembly/>"),
  };
  const std::vector<TIconImage> images = ReadIconFile(IconFile({16, 32}));
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[1].Width, 32);
  EXPECT_EQ(images[1].Data, TBytes(42, 32));
  ReplaceIcon(resources, images);

  std::vector<TResource> icons, groups;
  for (const TResource& r : resources) {
    if (r.Type == TResourceKey::Number(rtIcon)) icons.push_back(r);
    if (r.Type == TResourceKey::Number(rtGroupIcon)) groups.push_back(r);
  }
  ASSERT_EQ(icons.size(), 2u);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].Name.Text, u"MAINICON");
  EXPECT_EQ(resources.size(), 4u);  // the manifest stays
  // The group: header, then one 14-byte entry per image naming its icon.
  const TBytes& group = groups[0].Data;
  ASSERT_EQ(group.size(), 6u + 2 * 14);
  EXPECT_EQ(Get16(group, 4), 2);
  for (int i = 0; i < 2; ++i) {
    const size_t entry = 6 + 14 * i;
    const uint16_t id = Get16(group, entry + 12);
    auto icon = std::find_if(icons.begin(), icons.end(), [&](const TResource& R) { return R.Name.Id == id; });
    ASSERT_NE(icon, icons.end());
    EXPECT_EQ(icon->Data, images[i].Data);
    EXPECT_EQ(group[entry], images[i].Width);
    EXPECT_EQ(Get32(group, entry + 8), images[i].Data.size());
  }
}

TEST(PackResources, IconFileThatIsNoIconIsRefused) {
  EXPECT_THROW(ReadIconFile(TBytes{'P', 'N', 'G', 0, 0, 0}), EPackError);
  TBytes cut = IconFile({16});
  cut.resize(cut.size() - 1);
  EXPECT_THROW(ReadIconFile(cut), EPackError);
}

TEST(PackResources, VersionInformationChangesOnlyTheFieldsGiven) {
  std::vector<TResource> resources;
  TVersionFields first;
  first.ProductName = "First";
  first.CompanyName = "Company";
  first.Version = "1.2.3.4";
  EditVersionInfo(resources, first);  // made from nothing
  ASSERT_EQ(resources.size(), 1u);

  TVersionFields second;
  second.ProductName = "Mon appli \xC3\xA9t\xC3\xA9";
  second.Version = "5.6";
  second.Copyright = "(C) 2026";
  EditVersionInfo(resources, second);
  const std::map<std::string, std::string> strings = VersionStrings(resources);
  EXPECT_EQ(strings.at("ProductName"), second.ProductName);
  EXPECT_EQ(strings.at("CompanyName"), "Company");
  EXPECT_EQ(strings.at("LegalCopyright"), "(C) 2026");
  EXPECT_EQ(strings.at("FileVersion"), "5.6");
  EXPECT_EQ(strings.at("ProductVersion"), "5.6");
  EXPECT_EQ(strings.count("FileDescription"), 0u);
  EXPECT_EQ(strings.count("InternalName"), 0u);
  TVersionFields named;
  named.OriginalFilename = "MyApp.exe";
  EditVersionInfo(resources, named);
  EXPECT_EQ(VersionStrings(resources).at("OriginalFilename"), "MyApp.exe");
  EXPECT_EQ(VersionStrings(resources).at("InternalName"), "MyApp");
  uint16_t n[4];
  FixedFileVersion(resources, n);
  EXPECT_EQ(std::vector<uint16_t>(n, n + 4), (std::vector<uint16_t>{5, 6, 0, 0}));
  // The block lengths add up: the root's length is the resource's size.
  EXPECT_EQ(Get16(resources[0].Data, 0), resources[0].Data.size());
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
  uint32_t RelocatedPage = 0x1000;    // the page the one relocation block covers
  uint32_t ExceptionDirectory = 0x1100;
  uint32_t SymbolCount = 0;
};

constexpr uint32_t SyntheticPe = 0x40, SyntheticOptional = 0x40 + 24, SyntheticTable = 0x40 + 24 + 240;

TBytes BuildSynthetic(const TSynthetic& Spec) {
  TBytes file(0x400, 0);
  file[0] = 'M';
  file[1] = 'Z';
  Put32(file, 0x3C, SyntheticPe);
  file[SyntheticPe] = 'P';
  file[SyntheticPe + 1] = 'E';
  Put16(file, SyntheticPe + 4, 0x8664);
  Put16(file, SyntheticPe + 6, static_cast<uint16_t>(Spec.Sections.size()));
  Put32(file, SyntheticPe + 16, Spec.SymbolCount);
  Put16(file, SyntheticPe + 20, 240);
  Put16(file, SyntheticOptional, 0x20B);
  Put32(file, SyntheticOptional + 32, 0x1000);  // section alignment
  Put32(file, SyntheticOptional + 36, 0x200);   // file alignment
  Put32(file, SyntheticOptional + 60, 0x400);   // size of headers
  Put32(file, SyntheticOptional + 108, 16);
  Put32(file, SyntheticOptional + 112 + 8 * 3, Spec.ExceptionDirectory);
  Put32(file, SyntheticOptional + 112 + 8 * 3 + 4, 0x10);
  TBytes strings = {0, 0, 0, 0};
  uint32_t address = 0x1000;
  for (size_t i = 0; i < Spec.Sections.size(); ++i) {
    const TSyntheticSection& section = Spec.Sections[i];
    const size_t header = SyntheticTable + 40 * i;
    std::string name = section.Name;
    if (name.size() > 8) {
      const size_t offset = strings.size();
      strings.insert(strings.end(), name.begin(), name.end());
      strings.push_back(0);
      name = "/" + std::to_string(offset);
    }
    std::copy(name.begin(), name.end(), file.begin() + header);
    Put32(file, header + 8, static_cast<uint32_t>(section.Data.size()));
    Put32(file, header + 12, address);
    Put32(file, header + 16, static_cast<uint32_t>(AlignUp(section.Data.size(), 0x200)));
    Put32(file, header + 20, static_cast<uint32_t>(file.size()));
    Put32(file, header + 36, section.Characteristics);
    if (section.Name == ".rsrc") {
      Put32(file, SyntheticOptional + 112 + 8 * 2, address);
      Put32(file, SyntheticOptional + 112 + 8 * 2 + 4, static_cast<uint32_t>(section.Data.size()));
    }
    if (section.Name == ".reloc") {
      Put32(file, SyntheticOptional + 112 + 8 * 5, address);
      Put32(file, SyntheticOptional + 112 + 8 * 5 + 4, static_cast<uint32_t>(section.Data.size()));
    }
    file.insert(file.end(), section.Data.begin(), section.Data.end());
    PadTo(file, 0x200);
    address += static_cast<uint32_t>(AlignUp(std::max<size_t>(section.Data.size(), 1), 0x1000));
  }
  Put32(file, SyntheticOptional + 56, address);
  Put32(strings, 0, static_cast<uint32_t>(strings.size()));
  Put32(file, SyntheticPe + 12, static_cast<uint32_t>(file.size()));
  file.insert(file.end(), strings.begin(), strings.end());
  if (Spec.Signature) {
    PadTo(file, 8);
    Put32(file, SyntheticOptional + 112 + 8 * 4, static_cast<uint32_t>(file.size()));
    Put32(file, SyntheticOptional + 112 + 8 * 4 + 4, 32);
    file.insert(file.end(), 32, 0x5A);
  }
  return file;
}

TBytes BundleSection(const TBytes& Archive) {
  TBytes data(BundleHeaderSize);
  WriteBundleHeader(Archive.size(), data.data());
  data.insert(data.end(), Archive.begin(), Archive.end());
  return data;
}

TSynthetic SyntheticLauncher(const TBytes& Archive, const std::vector<TResource>& Resources) {
  TSynthetic spec;
  spec.Sections.push_back({".text", TBytes(0x300, 0xCC), 0x60000020});
  spec.Sections.push_back({".rsrc", BuildResourceSection(Resources, 0x2000)});
  TBytes relocations;
  Append32(relocations, spec.RelocatedPage);
  Append32(relocations, 12);
  Append16(relocations, 0xA010);
  Append16(relocations, 0xA020);
  spec.Sections.push_back({".reloc", relocations, 0x42000040});
  spec.Sections.push_back({".qbundle", BundleSection(Archive)});
  spec.Sections.push_back({".gnu_debuglink", TBytes{'l', 'a', 'u', 'n', 'c', 'h', 'e', 'r', '.', 'd', 'b', 'g', 0, 0, 0, 0,
                                                    1, 2, 3, 4}, 0x42000040});
  return spec;
}

std::string RefusalOf(const TBytes& File) {
  try {
    TLauncherImage image(File);
  } catch (const EPackError& Failure) {
    return Failure.Message();
  }
  return "accepted";
}

std::vector<TResource> SomeResources() {
  std::vector<TResource> resources = {
      Make(TResourceKey::Number(rtManifest), TResourceKey::Number(1), 0x0409, "<assembly>asInvoker</assembly>")};
  TVersionFields fields;
  fields.ProductName = "Demo";
  fields.Version = "1.0";
  EditVersionInfo(resources, fields);
  return resources;
}

}  // namespace

TEST(PackSynthetic, RewriteMovesTheTailAndKeepsTheRest) {
  const TBytes first(300, 'a'), second(10000, 'b');
  TSynthetic spec = SyntheticLauncher(first, SomeResources());
  spec.Signature = true;
  const TBytes original = BuildSynthetic(spec);
  const TLauncherImage launcher(original);
  EXPECT_EQ(launcher.Bundle(), first);
  EXPECT_TRUE(launcher.Signed());
  ASSERT_EQ(launcher.Sections().size(), 5u);
  EXPECT_EQ(launcher.Sections()[4].Name, ".gnu_debuglink");

  std::vector<TResource> resources = launcher.Resources();
  ReplaceIcon(resources, ReadIconFile(IconFile({16, 48})));
  TVersionFields fields;
  fields.Version = "3.4.5.6";
  EditVersionInfo(resources, fields);
  const TBytes packed = launcher.Rewrite(second, resources);

  const TLauncherImage again(packed);
  EXPECT_EQ(again.Bundle(), second);
  EXPECT_FALSE(again.Signed());
  EXPECT_EQ(VersionStrings(again.Resources()).at("FileVersion"), "3.4.5.6");
  EXPECT_EQ(VersionStrings(again.Resources()).at("ProductName"), "Demo");
  // The code stays where it was, byte for byte.
  EXPECT_EQ(again.Sections()[0].VirtualAddress, 0x1000u);
  EXPECT_TRUE(std::equal(original.begin() + 0x400, original.begin() + 0x700, packed.begin() + 0x400));
  // The sections after the resources moved up in address and file order,
  // and the data directories followed them.
  const std::vector<TSectionInfo>& moved = again.Sections();
  for (size_t i = 1; i < moved.size(); ++i) {
    EXPECT_GT(moved[i].VirtualAddress, moved[i - 1].VirtualAddress);
    EXPECT_EQ(moved[i].VirtualAddress % 0x1000, 0u);
    EXPECT_EQ(moved[i].RawOffset % 0x200, 0u);
    EXPECT_GE(moved[i].RawOffset, moved[i - 1].RawOffset + moved[i - 1].RawSize);
  }
  EXPECT_EQ(Get32(packed, SyntheticOptional + 112 + 8 * 5), moved[2].VirtualAddress);
  EXPECT_EQ(Get32(packed, SyntheticOptional + 112 + 8 * 2), moved[1].VirtualAddress);
  EXPECT_EQ(Get32(packed, SyntheticOptional + 112 + 8 * 3), 0x1100u);  // untouched
  EXPECT_EQ(Get32(packed, SyntheticOptional + 56), moved[4].VirtualAddress + 0x1000);
  // The long name still resolves, the string table is the file's end, and
  // the checksum is the file's.
  EXPECT_EQ(moved[4].Name, ".gnu_debuglink");
  EXPECT_EQ(Get32(packed, SyntheticPe + 12) + Get32(packed, Get32(packed, SyntheticPe + 12)), packed.size());
  EXPECT_EQ(Get32(packed, SyntheticOptional + 64), PeChecksum(packed, SyntheticOptional + 64));
  // Packing the packed launcher again gives the same file.
  EXPECT_EQ(again.Rewrite(second, again.Resources()), packed);
}

TEST(PackSynthetic, RefusesWhatItCannotRewriteSafely) {
  const TBytes archive(100, 'z');
  TSynthetic good = SyntheticLauncher(archive, SomeResources());
  EXPECT_EQ(RefusalOf(BuildSynthetic(good)), "accepted");

  TSynthetic noBundle = good;
  noBundle.Sections.erase(noBundle.Sections.begin() + 3);
  EXPECT_EQ(RefusalOf(BuildSynthetic(noBundle)), "it is not a quintabel launcher (it has no bundle section)");

  TSynthetic badHeader = good;
  badHeader.Sections[3].Data[0] = 'X';
  EXPECT_EQ(RefusalOf(BuildSynthetic(badHeader)), "its bundle section does not begin with the bundle header");

  TSynthetic tooLong = good;
  Put32(tooLong.Sections[3].Data, 16, 1000);
  EXPECT_EQ(RefusalOf(BuildSynthetic(tooLong)), "its bundle section does not begin with the bundle header");

  TSynthetic extra = good;
  extra.Sections.insert(extra.Sections.begin() + 3, {".data2", TBytes(16, 1)});
  EXPECT_NE(RefusalOf(BuildSynthetic(extra)).find("its section .data2 follows the resources"), std::string::npos);

  TSynthetic relocatedTail = good;
  relocatedTail.RelocatedPage = 0x4000;
  relocatedTail.Sections[2].Data = SyntheticLauncher(archive, SomeResources()).Sections[2].Data;
  Put32(relocatedTail.Sections[2].Data, 0, 0x4000);
  EXPECT_EQ(RefusalOf(BuildSynthetic(relocatedTail)), "a base relocation lies in the sections that would move");

  TSynthetic directoryInTail = good;
  directoryInTail.ExceptionDirectory = 0x4010;
  EXPECT_EQ(RefusalOf(BuildSynthetic(directoryInTail)), "its data directory 3 points into the sections that would move");

  TSynthetic symbols = good;
  symbols.SymbolCount = 0;
  TBytes withSymbols = BuildSynthetic(symbols);
  // One symbol record in front of the string table.
  const uint32_t table = Get32(withSymbols, SyntheticPe + 12);
  withSymbols.insert(withSymbols.begin() + table, 18, 0);
  Put32(withSymbols, SyntheticPe + 16, 1);
  EXPECT_EQ(RefusalOf(withSymbols), "it still carries a symbol table (it is not a stripped release build)");

  TBytes i386 = BuildSynthetic(good);
  Put16(i386, SyntheticPe + 4, 0x14C);
  EXPECT_EQ(RefusalOf(i386), "it is not a 64-bit (x86-64) Windows executable");
  TBytes cut = BuildSynthetic(good);
  cut.resize(0x900);
  EXPECT_NE(RefusalOf(cut).find("lies outside the file"), std::string::npos) << RefusalOf(cut);
}

#ifdef QB_TEST_LAUNCHER
namespace {
TBytes ToBytes(const std::string& Data) { return TBytes(Data.begin(), Data.end()); }
TBytes ToBytes(const zipr::Bytes& Data) { return TBytes(Data.begin(), Data.end()); }
}  // namespace

// The launcher this build made, with the default bundle in it.
TEST(PackImage, RewritesTheBundleAndKeepsEverythingBeforeIt) {
  const TBytes original = ToBytes(qbtest::ReadFile(BuildTreePath(QB_TEST_LAUNCHER)));
  const TLauncherImage launcher(original);
  EXPECT_EQ(launcher.Bundle(), ToBytes(qbtest::ReadFile(BuildTreePath(QB_TEST_LAUNCHER_BUNDLE))));
  EXPECT_FALSE(launcher.Signed());

  const TBytes bundle = ToBytes(BuildArchive(GoodEntries()));
  std::vector<TResource> resources = launcher.Resources();
  TVersionFields fields;
  fields.Description = "Rewritten";
  EditVersionInfo(resources, fields);
  const TBytes packed = launcher.Rewrite(bundle, resources);
  const TLauncherImage again(packed);
  EXPECT_EQ(again.Bundle(), bundle);
  EXPECT_EQ(VersionStrings(again.Resources()).at("FileDescription"), "Rewritten");

  // Code and data keep their places: the sections before the resources are
  // the same bytes at the same addresses.
  size_t compared = 0;
  for (size_t i = 0; i < launcher.Sections().size(); ++i) {
    const TSectionInfo& before = launcher.Sections()[i];
    const TSectionInfo& after = again.Sections()[i];
    EXPECT_EQ(before.Name, after.Name);
    if (before.Name == ".rsrc") break;
    EXPECT_EQ(before.VirtualAddress, after.VirtualAddress);
    EXPECT_TRUE(std::equal(original.begin() + before.RawOffset, original.begin() + before.RawOffset + before.RawSize,
                           packed.begin() + after.RawOffset));
    ++compared;
  }
  EXPECT_GE(compared, 5u);
  const uint32_t checksumOffset = Get32(packed, 0x3C) + 24 + 64;
  EXPECT_EQ(Get32(packed, checksumOffset), PeChecksum(packed, checksumOffset));
}

TEST(PackImage, RefusesAnExecutableWithoutABundleSection) {
  // This test program is a Windows executable, but no launcher.
  const TBytes self = ToBytes(qbtest::ReadFile(BuildTreePath(QB_TEST_SELF)));
  try {
    TLauncherImage image(self);
    FAIL() << "accepted an executable without a bundle section";
  } catch (const EPackError& Failure) {
    EXPECT_EQ(Failure.Message(), "it is not a quintabel launcher (it has no bundle section)");
  }
  EXPECT_THROW(TLauncherImage(TBytes(100, 'M')), EPackError);
}
#endif
