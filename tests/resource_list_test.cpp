// The bundle store: values registered from pieces, lookup by name in the
// documented order, the duplicate report, writing a value to a file with its
// failures, and the registry of the process.
#include "launcher/resource_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "tests/test_support.h"

namespace fsys = qbtest::fsys;

namespace {

using qbtest::ReadFile;
using qbtest::TScratchFolder;
using qbtest::WriteFile;

// A single piece is held where it lies: only long-lived text may be given.
TLResourcePiece Piece(const std::string& Text) { return {Text.data(), Text.size()}; }
TLResourcePiece Piece(const char* Literal) { return {Literal, std::strlen(Literal)}; }
TLResourcePiece Piece(std::string&&) = delete;

std::string ValueOf(const TLResource& Entry) {
  return std::string(reinterpret_cast<const char*>(Entry.Value), Entry.Length);
}

const std::string Data = "value bytes";

}  // namespace

// ---- values registered from pieces ----

TEST(ResourceListAdd, PiecesAreJoinedInOrderAndNoPiecesRegisterNothing) {
  std::string A = "first-", B, C("\0zero\0", 6), D = "-last";
  const std::string Joined = A + B + C + D;
  TLResourceList List;
  List.Add("nothing", "ZIP", {});
  List.Add("joined", "BIN", {Piece(A), Piece(B), Piece(C), Piece(D)});
  List.Add("empty", "BIN", {{"", 0}, {"", 0}});
  // The joined value is a copy of its own: the pieces may change or go.
  A.assign(A.size(), '#');
  C.assign(C.size(), '#');
  EXPECT_EQ(List.Count(), 2);
  EXPECT_EQ(List.Find("nothing"), nullptr);
  ASSERT_NE(List.Find("joined"), nullptr);
  EXPECT_EQ(ValueOf(*List.Find("joined")), Joined);
  ASSERT_NE(List.Find("empty"), nullptr);
  EXPECT_EQ(List.Find("empty")->Length, 0u);
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

TEST(ResourceListAdd, TypeNameInAsciiUpperCaseAndNameAsGiven) {
  TLResourceList List;
  List.Add("MixedCase", "zip", {Piece(Data)});
  List.Add("other", "z\xC3\xA9p-9_x", {Piece(Data)});
  ASSERT_NE(List.Find("mixedcase"), nullptr);
  EXPECT_EQ(List.Find("mixedcase")->Name, "MixedCase");
  EXPECT_EQ(List.Find("mixedcase")->TypeName, "ZIP");
  EXPECT_EQ(List.Find("other")->TypeName, "Z\xC3\xA9P-9_X");
}

// ---- lookup in name order ----

TEST(ResourceNameOrder, FoldsOnlyAsciiLowerCaseLettersThenComparesLengths) {
  EXPECT_EQ(CompareResourceNames("quintabelprincipal", "QUINTABELPRINCIPAL"), 0);
  // a-z compare as A-Z: 'a' (as 'A', 0x41) sorts before '[' (0x5B).
  EXPECT_EQ(CompareResourceNames("a", "["), 0x41 - 0x5B);
  EXPECT_EQ(CompareResourceNames("_", "z"), 0x5F - 0x5A);
  // Bytes outside a-z are compared as they are: letters outside ASCII stay
  // case-sensitive (UTF-8 of "é" is C3 A9, of "É" C3 89).
  EXPECT_EQ(CompareResourceNames("\xC3\xA9", "\xC3\x89"), 0xA9 - 0x89);
  EXPECT_EQ(CompareResourceNames("\xFF", "a"), 0xFF - 0x41);
  // A shorter prefix sorts first by the difference of the lengths; a
  // difference before the end of the shorter name decides over length.
  EXPECT_EQ(CompareResourceNames("ab", "ABCD"), -2);
  EXPECT_EQ(CompareResourceNames("abcd", "ab"), 2);
  EXPECT_EQ(CompareResourceNames("", ""), 0);
  EXPECT_GT(CompareResourceNames("b", "aaaa"), 0);
}

TEST(ResourceListFind, BundleNameInCapitalsFindsItAndNothingElseDoes) {
  TLResourceList List;
  EXPECT_EQ(List.Find("quintabelprincipal"), nullptr);
  List.Add("quintabelprincipal", "ZIP", {Piece(Data)});
  List.Add("another", "ZIP", {Piece(Data)});
  const TLResource* Entry = List.Find("QUINTABELPRINCIPAL");
  ASSERT_NE(Entry, nullptr);
  EXPECT_EQ(Entry->Name, "quintabelprincipal");
  EXPECT_EQ(List.Find("QuintabelPrincipal"), Entry);
  for (const char* Other : {"quintabelprincipa", "quintabelprincipal ", "quintabelprincipalx", "quintabelprincipa1",
                            " quintabelprincipal", "quintabel_principal", ""}) {
    EXPECT_EQ(List.Find(Other), nullptr) << Other;
  }
}

TEST(ResourceListFind, EntriesAddedAfterAFindAreFoundByTheNext) {
  TLResourceList List;
  List.Add("m", "T", {Piece("m")});
  List.Add("c", "T", {Piece("c")});
  ASSERT_NE(List.Find("m"), nullptr);
  for (const char* Name : {"a", "z", "f", "[", "_"}) List.Add(Name, "T", {Piece(Name)});
  for (const char* Name : {"a", "c", "f", "m", "z", "[", "_"}) {
    const TLResource* Entry = List.Find(Name);
    ASSERT_NE(Entry, nullptr) << Name;
    EXPECT_EQ(ValueOf(*Entry), Name);
  }
}

TEST(ResourceListFind, FindsEveryOneOfManyEntries) {
  TLResourceList List;
  std::vector<std::string> Names;
  std::mt19937 Random(7);
  for (int I = 0; I < 500; ++I) Names.push_back("res" + std::to_string(Random() % 100000) + "_" + std::to_string(I));
  for (size_t I = 0; I < Names.size(); ++I) {
    List.Add(Names[I], "T", {Piece(Names[I])});  // Names outlives List
    if (I % 97 == 0) List.Find(Names[0]);        // sorted in several rounds
  }
  for (const std::string& Name : Names) {
    const TLResource* Entry = List.Find(Name);
    ASSERT_NE(Entry, nullptr) << Name;
    EXPECT_EQ(Entry->Name, Name);
  }
  EXPECT_EQ(List.Find("res"), nullptr);
}

// ---- duplicates ----

TEST(ResourceListSort, DuplicatesStayAndEverySortReportsThePairOnce) {
  std::vector<std::string> Lines;
  TLResourceList List;
  List.SetDiagnosticSink([&Lines](const std::string& Line) { Lines.push_back(Line); });
  List.Add("dup", "zip", {Piece("first")});
  List.Add("DUP", "ZIP", {Piece("second")});
  const TLResource* Found = List.Find("dup");
  ASSERT_NE(Found, nullptr);
  EXPECT_TRUE(ValueOf(*Found) == "first" || ValueOf(*Found) == "second");
  EXPECT_EQ(List.Count(), 2);
  EXPECT_EQ(Lines, std::vector<std::string>{"TLResourceList.Sort 0 DUPLICATE RESOURCE FOUND: dup:ZIP"});

  // Nothing added since: no sort, so no line.
  List.Find("dup");
  List.Sort();
  EXPECT_EQ(Lines.size(), 1u);

  // The next sort reports the pair once more, at its new position.
  List.Add("a", "ZIP", {Piece("a")});
  List.Find("a");
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[1], "TLResourceList.Sort 1 DUPLICATE RESOURCE FOUND: dup:ZIP");
}

TEST(ResourceListSort, SameNameWithDifferentTypesIsNotReported) {
  std::vector<std::string> Lines;
  TLResourceList List;
  List.SetDiagnosticSink([&Lines](const std::string& Line) { Lines.push_back(Line); });
  List.Add("twin", "ZIP", {Piece("zip")});
  List.Add("twin", "TXT", {Piece("txt")});
  const TLResource* Found = List.Find("twin");
  ASSERT_NE(Found, nullptr);
  EXPECT_TRUE(ValueOf(*Found) == "zip" || ValueOf(*Found) == "txt");
  EXPECT_TRUE(Lines.empty());
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

// ---- writing a value to a file ----

TEST(ResourceListWrite, WritesTheWholeValueOverAnyEarlierFile) {
  TScratchFolder Scratch;
  const std::string Value("PK\x03\x04\0\0binary\0", 14);
  WriteFile(Scratch.Path("old.zip"), std::string(5000, 'x'));
  TLResourceList List;
  List.Add("quintabelprincipal", "ZIP", {Piece(Value)});
  List.Add("joined", "ZIP", {Piece("short"), Piece(" value")});
  List.Add("empty", "BIN", {{"", 0}});
  List.WriteResourceToFile("quintabelprincipal", Scratch.Path("out.zip"));
  EXPECT_EQ(ReadFile(Scratch.Path("out.zip")), Value);
  List.WriteResourceToFile("JOINED", Scratch.Path("old.zip"));
  EXPECT_EQ(ReadFile(Scratch.Path("old.zip")), "short value");
  List.WriteResourceToFile("empty", Scratch.Path("empty.bin"));
  EXPECT_EQ(ReadFile(Scratch.Path("empty.bin")), "");
}

TEST(ResourceListWrite, UnknownNameRaisesResNotFoundAndLeavesThePathAlone) {
  TScratchFolder Scratch;
  WriteFile(Scratch.Path("kept.bin"), "earlier content");
  TLResourceList List;
  List.Add("known", "ZIP", {Piece(Data)});
  try {
    List.WriteResourceToFile("x", Scratch.Path("kept.bin"));
    FAIL() << "no failure raised";
  } catch (const EResNotFound& E) {
    EXPECT_STREQ(E.ClassName(), "EResNotFound");
    EXPECT_EQ(E.Message(), "Resource \"x\" not found");
  }
  EXPECT_EQ(ReadFile(Scratch.Path("kept.bin")), "earlier content");
  EXPECT_THROW(List.WriteResourceToFile("x", Scratch.Path("absent.bin")), EResNotFound);
  EXPECT_FALSE(fsys::exists(Scratch.Root() / "absent.bin"));
}

TEST(ResourceListWrite, FileThatCannotBeCreatedRaisesFCreateError) {
  TScratchFolder Scratch;
  TLResourceList List;
  List.Add("r", "ZIP", {Piece(Data)});
  const std::string Path = Scratch.Path("missing-folder/out.zip");
  try {
    List.WriteResourceToFile("r", Path);
    FAIL() << "no failure raised";
  } catch (const EFCreateError& E) {
    EXPECT_STREQ(E.ClassName(), "EFCreateError");
    EXPECT_EQ(E.Message(), "Unable to create file \"" + Path + "\"");
  }
}

TEST(ResourceListWrite, ShortWriteRaisesWriteError) {
  // A device that refuses every write, as a full disk does.
  if (!fsys::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  TLResourceList List;
  List.Add("r", "ZIP", {Piece(Data)});
  EXPECT_EQ(qbtest::FailureOf<EWriteError>([&] { List.WriteResourceToFile("r", "/dev/full"); }), "Stream write error");
}

// ---- the registry of the process ----

TEST(ResourceRegistry, IsCreatedAndDestroyedOncePerProcess) {
  DestroyResourceRegistry();
  EXPECT_THROW(Resources(), Exception);
  CreateResourceRegistry();
  TLResourceList& Registry = Resources();
  Registry.Add("quintabelprincipal", "zip", {Piece(Data)});
  CreateResourceRegistry();  // a second call keeps the registry and its entries
  EXPECT_EQ(&Resources(), &Registry);
  TScratchFolder Scratch;
  WriteResourceToFile("quintabelprincipal", Scratch.Path("bundle.zip"));
  EXPECT_EQ(ReadFile(Scratch.Path("bundle.zip")), Data);
  DestroyResourceRegistry();
  EXPECT_THROW(Resources(), Exception);
  EXPECT_THROW(WriteResourceToFile("quintabelprincipal", Scratch.Path("again.zip")), Exception);
}
