// The bundle store: registration from pieces, name order, the lazy merge sort
// with its duplicate report, lookups and writing a value to a file.
#include "launcher/resource_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

// A single piece is held where it lies: only long-lived text may be given.
TLResourcePiece Piece(const std::string& Text) { return {Text.data(), Text.size()}; }
TLResourcePiece Piece(const char* Literal) { return {Literal, std::strlen(Literal)}; }
TLResourcePiece Piece(std::string&&) = delete;

std::string ValueOf(const TLResource& Entry) {
  return std::string(reinterpret_cast<const char*>(Entry.Value), Entry.Length);
}

using qbtest::ReadFile;
using qbtest::TScratchFolder;
using qbtest::WriteFile;

// Collects Sort's diagnostic lines.
struct LineCollector {
  std::vector<std::string> Lines;
  TResourceDiagnosticSink Sink() {
    return [this](const std::string& Line) { Lines.push_back(Line); };
  }
};

const std::string kData = "value bytes";

}  // namespace

TEST(ResourceNameOrder, FoldsOnlyAsciiLowerCaseLetters) {
  EXPECT_EQ(CompareResourceNames("quintabelprincipal", "QUINTABELPRINCIPAL"), 0);
  EXPECT_EQ(CompareResourceNames("aBc", "AbC"), 0);
  // a-z compare as A-Z: 'a' (as 'A', 0x41) sorts before '[' (0x5B).
  EXPECT_EQ(CompareResourceNames("a", "["), 0x41 - 0x5B);
  EXPECT_EQ(CompareResourceNames("_", "z"), 0x5F - 0x5A);
  EXPECT_EQ(CompareResourceNames("b", "A"), 1);
  // Bytes outside a-z are compared as they are: letters outside ASCII stay
  // case-sensitive (UTF-8 of "é" is C3 A9, of "É" C3 89).
  EXPECT_EQ(CompareResourceNames("\xC3\xA9", "\xC3\x89"), 0xA9 - 0x89);
  EXPECT_EQ(CompareResourceNames("\xFF", "a"), 0xFF - 0x41);
}

TEST(ResourceNameOrder, ShorterPrefixSortsFirstByLengthDifference) {
  EXPECT_EQ(CompareResourceNames("ab", "ABCD"), -2);
  EXPECT_EQ(CompareResourceNames("abcd", "ab"), 2);
  EXPECT_EQ(CompareResourceNames("", ""), 0);
  EXPECT_LT(CompareResourceNames("", "a"), 0);
  // A difference before the end of the shorter name decides over length.
  EXPECT_GT(CompareResourceNames("b", "aaaa"), 0);
}

TEST(ResourceListAdd, NoPiecesRegistersNothing) {
  TLResourceList List;
  List.Add("nothing", "ZIP", {});
  EXPECT_EQ(List.Count(), 0);
  EXPECT_EQ(List.Find("nothing"), nullptr);
}

TEST(ResourceListAdd, OneEmptyPieceGivesAnEmptyValue) {
  TLResourceList List;
  List.Add("empty", "bin", {{"", 0}});
  const TLResource* Entry = List.Find("empty");
  ASSERT_NE(Entry, nullptr);
  EXPECT_EQ(Entry->Length, 0u);
}

TEST(ResourceListAdd, OnePieceIsHeldWhereItLies) {
  static const char Constant[] = "constant data of the executable";
  TLResourceList List;
  List.Add("one", "TXT", {{Constant, sizeof Constant - 1}});
  const TLResource* Entry = List.Find("one");
  ASSERT_NE(Entry, nullptr);
  EXPECT_EQ(static_cast<const void*>(Entry->Value), static_cast<const void*>(Constant));
  EXPECT_EQ(Entry->Length, sizeof Constant - 1);
}

TEST(ResourceListAdd, SeveralPiecesAreJoinedInOrder) {
  const std::string A = "first-", B, C("\0zero\0", 6), D = "-last";
  TLResourceList List;
  List.Add("joined", "BIN", {Piece(A), Piece(B), Piece(C), Piece(D)});
  const TLResource* Entry = List.Find("joined");
  ASSERT_NE(Entry, nullptr);
  EXPECT_EQ(ValueOf(*Entry), A + C + D);
  // A copy of its own, not a view of any piece.
  EXPECT_NE(static_cast<const void*>(Entry->Value), static_cast<const void*>(A.data()));
  EXPECT_NE(static_cast<const void*>(Entry->Value), static_cast<const void*>(C.data()));
}

TEST(ResourceListAdd, SeveralEmptyPiecesGiveAnEmptyValue) {
  TLResourceList List;
  List.Add("e", "X", {{"", 0}, {"", 0}});
  ASSERT_NE(List.Find("e"), nullptr);
  EXPECT_EQ(List.Find("e")->Length, 0u);
}

TEST(ResourceListAdd, TypeNameIsStoredInAsciiUpperCase) {
  TLResourceList List;
  List.Add("bundle", "zip", {Piece(kData)});
  List.Add("other", "z\xC3\xA9p-9_x", {Piece(kData)});
  ASSERT_NE(List.Find("bundle"), nullptr);
  EXPECT_EQ(List.Find("bundle")->TypeName, "ZIP");
  EXPECT_EQ(List.Find("other")->TypeName, "Z\xC3\xA9P-9_X");
}

TEST(ResourceListAdd, NameIsKeptAsGiven) {
  TLResourceList List;
  List.Add("MixedCase", "x", {Piece(kData)});
  ASSERT_NE(List.Find("mixedcase"), nullptr);
  EXPECT_EQ(List.Find("mixedcase")->Name, "MixedCase");
}

TEST(ResourceListFind, BundleNameInCapitalsFindsItAndNothingElseDoes) {
  TLResourceList List;
  List.Add("quintabelprincipal", "ZIP", {Piece(kData)});
  List.Add("another", "ZIP", {Piece(kData)});
  const TLResource* Entry = List.Find("QUINTABELPRINCIPAL");
  ASSERT_NE(Entry, nullptr);
  EXPECT_EQ(Entry->Name, "quintabelprincipal");
  EXPECT_EQ(List.Find("QuintabelPrincipal"), Entry);
  for (const char* Other : {"quintabelprincipa", "quintabelprincipal ", "quintabelprincipalx",
                            "quintabelprincipa1", " quintabelprincipal", "quintabel_principal", ""}) {
    EXPECT_EQ(List.Find(Other), nullptr) << Other;
  }
}

TEST(ResourceListFind, EmptyListFindsNothing) {
  TLResourceList List;
  EXPECT_EQ(List.Find("x"), nullptr);
  EXPECT_EQ(List.SortedCount(), 0);
}

TEST(ResourceListFind, EntriesAddedAfterAFindAreFoundByTheNext) {
  TLResourceList List;
  List.Add("m", "T", {Piece("m")});
  List.Add("c", "T", {Piece("c")});
  ASSERT_NE(List.Find("m"), nullptr);
  EXPECT_EQ(List.SortedCount(), 2);
  List.Add("a", "T", {Piece("a")});
  List.Add("z", "T", {Piece("z")});
  List.Add("f", "T", {Piece("f")});
  EXPECT_EQ(List.SortedCount(), 2);
  for (const char* Name : {"a", "c", "f", "m", "z"}) {
    const TLResource* Entry = List.Find(Name);
    ASSERT_NE(Entry, nullptr) << Name;
    EXPECT_EQ(ValueOf(*Entry), Name);
  }
  EXPECT_EQ(List.SortedCount(), 5);
}

TEST(ResourceListFind, FindsEveryOneOfManyEntries) {
  TLResourceList List;
  std::vector<std::string> Names;
  std::mt19937 Random(7);
  for (int i = 0; i < 500; ++i) Names.push_back("res" + std::to_string(Random() % 100000) + "_" + std::to_string(i));
  for (const std::string& Name : Names) List.Add(Name, "T", {Piece(Name)});  // Names outlives List
  for (const std::string& Name : Names) {
    const TLResource* Entry = List.Find(Name);
    ASSERT_NE(Entry, nullptr) << Name;
    EXPECT_EQ(Entry->Name, Name);
  }
  EXPECT_EQ(List.Find("res"), nullptr);
}

// After each Sort the entry list is in name order and equal names keep the
// order in which they were registered, across several rounds of additions.
TEST(ResourceListSort, IsAStableSortOverSeveralRounds) {
  TLResourceList List;
  List.SetDiagnosticSink([](const std::string&) {});
  std::vector<std::pair<std::string, std::string>> Registered;  // name, value
  std::deque<std::string> Values;  // the registered bytes, which stay in place
  std::mt19937 Random(42);
  const char* Letters = "abcABC_[";
  int Serial = 0;
  for (int Round : {1, 2, 3, 7, 16, 33, 0, 5}) {
    for (int k = 0; k < Round; ++k) {
      std::string Name;
      const int Length = 1 + static_cast<int>(Random() % 3);
      for (int c = 0; c < Length; ++c) Name += Letters[Random() % 8];
      Values.push_back(std::to_string(Serial++));
      Registered.emplace_back(Name, Values.back());
      List.Add(Name, "T", {Piece(Values.back())});
    }
    List.Sort();
    auto Expected = Registered;
    std::stable_sort(Expected.begin(), Expected.end(), [](const auto& A, const auto& B) {
      return CompareResourceNames(A.first, B.first) < 0;
    });
    ASSERT_EQ(List.Count(), static_cast<int32_t>(Expected.size()));
    EXPECT_EQ(List.SortedCount(), List.Count());
    for (int32_t i = 0; i < List.Count(); ++i) {
      EXPECT_EQ(List[i].Name, Expected[i].first) << "round " << Round << " position " << i;
      EXPECT_EQ(ValueOf(List[i]), Expected[i].second) << "round " << Round << " position " << i;
    }
  }
}

TEST(ResourceListSort, TwoEntriesAreSwappedOnlyWhenOutOfOrder) {
  TLResourceList List;
  List.SetDiagnosticSink([](const std::string&) {});
  List.Add("b", "T", {Piece("1")});
  List.Add("a", "T", {Piece("2")});
  List.Sort();
  EXPECT_EQ(List[0].Name, "a");
  EXPECT_EQ(List[1].Name, "b");
  TLResourceList Same;
  Same.SetDiagnosticSink([](const std::string&) {});
  Same.Add("x", "T", {Piece("first")});
  Same.Add("X", "T", {Piece("second")});
  Same.Sort();
  EXPECT_EQ(ValueOf(Same[0]), "first");
  EXPECT_EQ(ValueOf(Same[1]), "second");
}

TEST(ResourceListSort, DuplicatesStayAndEverySortReportsThePairOnce) {
  LineCollector Collector;
  TLResourceList List;
  List.SetDiagnosticSink(Collector.Sink());
  List.Add("dup", "zip", {Piece("first")});
  List.Add("DUP", "ZIP", {Piece("second")});
  const TLResource* Found = List.Find("dup");
  ASSERT_NE(Found, nullptr);
  EXPECT_TRUE(ValueOf(*Found) == "first" || ValueOf(*Found) == "second");
  EXPECT_EQ(List.Count(), 2);
  ASSERT_EQ(Collector.Lines.size(), 1u);
  EXPECT_EQ(Collector.Lines[0], "TLResourceList.Sort 0 DUPLICATE RESOURCE FOUND: dup:ZIP");

  // Nothing added: Find does not sort, so no line.
  List.Find("dup");
  List.Sort();
  EXPECT_EQ(Collector.Lines.size(), 1u);

  // The next Sort that runs reports the pair once more, at its new position.
  List.Add("a", "ZIP", {Piece("a")});
  List.Find("a");
  ASSERT_EQ(Collector.Lines.size(), 2u);
  EXPECT_EQ(Collector.Lines[1], "TLResourceList.Sort 1 DUPLICATE RESOURCE FOUND: dup:ZIP");
  EXPECT_EQ(List.Count(), 3);
}

TEST(ResourceListSort, SameNameWithDifferentTypesIsNotReported) {
  LineCollector Collector;
  TLResourceList List;
  List.SetDiagnosticSink(Collector.Sink());
  List.Add("twin", "ZIP", {Piece("zip")});
  List.Add("twin", "TXT", {Piece("txt")});
  const TLResource* Found = List.Find("twin");
  ASSERT_NE(Found, nullptr);
  EXPECT_TRUE(ValueOf(*Found) == "zip" || ValueOf(*Found) == "txt");
  EXPECT_EQ(List.Count(), 2);
  EXPECT_TRUE(Collector.Lines.empty());
}

TEST(ResourceListSort, DefaultSinkWritesTheLineToStandardOutput) {
  TLResourceList List;
  List.Add("d", "T", {Piece("1")});
  List.Add("d", "T", {Piece("2")});
  testing::internal::CaptureStdout();
  List.Sort();
  const std::string Output = testing::internal::GetCapturedStdout();
  EXPECT_NE(Output.find("TLResourceList.Sort 0 DUPLICATE RESOURCE FOUND: d:T"), std::string::npos) << Output;
}

TEST(ResourceListWrite, WritesTheValueWithItsZeroBytes) {
  TScratchFolder Scratch;
  const std::string Value("PK\x03\x04\0\0binary\0", 14);
  TLResourceList List;
  List.Add("quintabelprincipal", "ZIP", {Piece(Value)});
  List.WriteResourceToFile("quintabelprincipal", Scratch.Path("out.zip"));
  EXPECT_EQ(ReadFile(Scratch.Root() / "out.zip"), Value);
}

TEST(ResourceListWrite, EmptyValueMakesAnEmptyFile) {
  TScratchFolder Scratch;
  TLResourceList List;
  List.Add("empty", "BIN", {{"", 0}});
  List.WriteResourceToFile("empty", Scratch.Path("empty.bin"));
  ASSERT_TRUE(fs::exists(Scratch.Root() / "empty.bin"));
  EXPECT_EQ(fs::file_size(Scratch.Root() / "empty.bin"), 0u);
}

TEST(ResourceListWrite, ReplacesALongerFileExactly) {
  TScratchFolder Scratch;
  WriteFile(Scratch.Root() / "old.zip", std::string(5000, 'x'));
  TLResourceList List;
  List.Add("r", "ZIP", {Piece("short"), Piece(" value")});
  List.WriteResourceToFile("R", Scratch.Path("old.zip"));
  EXPECT_EQ(ReadFile(Scratch.Root() / "old.zip"), "short value");
}

TEST(ResourceListWrite, UnknownNameRaisesResNotFoundAndLeavesThePathAlone) {
  TScratchFolder Scratch;
  WriteFile(Scratch.Root() / "kept.bin", "earlier content");
  TLResourceList List;
  List.Add("known", "ZIP", {Piece(kData)});
  try {
    List.WriteResourceToFile("x", Scratch.Path("kept.bin"));
    FAIL() << "no failure raised";
  } catch (const EResNotFound& e) {
    EXPECT_STREQ(e.ClassName(), "EResNotFound");
    EXPECT_EQ(e.Message(), "Resource \"x\" not found");
  }
  EXPECT_EQ(ReadFile(Scratch.Root() / "kept.bin"), "earlier content");
  EXPECT_THROW(List.WriteResourceToFile("x", Scratch.Path("absent.bin")), EResNotFound);
  EXPECT_FALSE(fs::exists(Scratch.Root() / "absent.bin"));
}

TEST(ResourceListWrite, FileThatCannotBeCreatedRaisesFCreateError) {
  TScratchFolder Scratch;
  TLResourceList List;
  List.Add("r", "ZIP", {Piece(kData)});
  const std::string Path = Scratch.Path("missing-folder") + "/out.zip";
  try {
    List.WriteResourceToFile("r", Path);
    FAIL() << "no failure raised";
  } catch (const EFCreateError& e) {
    EXPECT_STREQ(e.ClassName(), "EFCreateError");
    EXPECT_EQ(e.Message(), "Unable to create file \"" + Path + "\"");
  }
}

TEST(ResourceListWrite, ShortWriteRaisesWriteError) {
  // A device that refuses every write, as a full disk does.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  TLResourceList List;
  List.Add("r", "ZIP", {Piece(kData)});
  try {
    List.WriteResourceToFile("r", "/dev/full");
    FAIL() << "no failure raised";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
}

TEST(ResourceRegistry, IsCreatedAndDestroyedOncePerProcess) {
  DestroyResourceRegistry();
  EXPECT_THROW(Resources(), Exception);
  CreateResourceRegistry();
  TLResourceList& Registry = Resources();
  Registry.Add("quintabelprincipal", "zip", {Piece(kData)});
  CreateResourceRegistry();  // a second call keeps the registry and its entries
  EXPECT_EQ(&Resources(), &Registry);
  TScratchFolder Scratch;
  WriteResourceToFile("quintabelprincipal", Scratch.Path("bundle.zip"));
  EXPECT_EQ(ReadFile(Scratch.Root() / "bundle.zip"), kData);
  DestroyResourceRegistry();
  EXPECT_THROW(Resources(), Exception);
  EXPECT_THROW(WriteResourceToFile("quintabelprincipal", Scratch.Path("again.zip")), Exception);
}
