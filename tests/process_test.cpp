#include "process/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "runtime/exceptions.h"
#include "tests/test_support.h"

namespace fsys = qbtest::fsys;
using qbtest::ReadFile;
using qbtest::WriteFile;

namespace {

const std::string Child = QB_PROCESS_CHILD;

// What differs between the two platforms' process creation.
#ifdef _WIN32
constexpr uint32_t TerminatedExitCode = 7;                           // the code given to Terminate
constexpr int NotExecutableError = 193;                              // ERROR_BAD_EXE_FORMAT
constexpr int NotAProgramError = 193;                                // ERROR_BAD_EXE_FORMAT
constexpr int BadFolderError = 267;                                  // ERROR_DIRECTORY
const char* const EmptyParameterLines = "[first]\n[a b]\n[last]\n";  // only a space is left
void SetVariable(const char* Assignment) { _putenv(Assignment); }
#else
constexpr uint32_t TerminatedExitCode = 128 + 9;  // ended by SIGKILL
constexpr int NotExecutableError = 13;            // EACCES
constexpr int NotAProgramError = 8;               // ENOEXEC
constexpr int BadFolderError = 2;                 // ENOENT
const char* const EmptyParameterLines = "[first]\n[a b]\n[]\n[last]\n";
void SetVariable(const char* Assignment) { putenv(const_cast<char*>(Assignment)); }
#endif

// A scratch folder of its own for each test.
class ProcessTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return FScratch.Path(Name); }
  static std::string ReadAll(TStream& S) {
    std::string Out;
    char Buf[256];
    int32_t N;
    while ((N = S.Read(Buf, sizeof Buf)) > 0) Out.append(Buf, static_cast<size_t>(N));
    return Out;
  }
  // The failure message Execute raised, or "" when it raised none.
  static std::string ExecuteFailure(TProcess& P) {
    try {
      P.Execute();
    } catch (const EProcess& E) {
      return E.Message();
    }
    return "";
  }
  qbtest::TScratchFolder FScratch;
  const fsys::path& FDir = FScratch.Root();
};

// --- Quoting, command lines and word cutting -----------------------------

TEST(ProcessQuoting, QuotesOnlyWordsWithASpaceAndNoDoubleQuote) {
  EXPECT_EQ(TProcess::QuoteIfNeeded("plain"), "plain");
  EXPECT_EQ(TProcess::QuoteIfNeeded("a b"), "\"a b\"");
  EXPECT_EQ(TProcess::QuoteIfNeeded("say \"a b\""), "say \"a b\"");
  EXPECT_EQ(TProcess::QuoteIfNeeded("\"C:\\Program Files\\q.exe\""), "\"C:\\Program Files\\q.exe\"");
  EXPECT_EQ(TProcess::QuoteIfNeeded(""), "");
  EXPECT_EQ(TProcess::QuoteIfNeeded("tab\there"), "tab\there");
  EXPECT_EQ(TProcess::QuoteIfNeeded("back\\ slash\\"), "\"back\\ slash\\\"");
}

TEST(ProcessCommandLine, LauncherPathWithEmptyParameterEndsInOneSpace) {
  TProcess P;
  P.Parameters.push_back("");
  P.Executable = "\"C:\\Users\\A B\\Temp\\quintabel5\\quintabel.exe\"";
  EXPECT_EQ(P.BuildCommandLine(), "\"C:\\Users\\A B\\Temp\\quintabel5\\quintabel.exe\" ");
  EXPECT_EQ(P.ModuleName(), "");
}

TEST(ProcessCommandLine, ParametersAreQuotedOneByOne) {
  TProcess P;
  P.Executable = "C:\\Program Files\\q.exe";
  P.Parameters = {"one", "two words", "has \"quote\" inside", ""};
  EXPECT_EQ(P.BuildCommandLine(), "\"C:\\Program Files\\q.exe\" one \"two words\" has \"quote\" inside ");
}

TEST(ProcessCommandLine, CommandLineIsHandedOverUnchanged) {
  TProcess P;
  P.SetCommandLine("prog  'x y'   \"z w\"");
  P.Executable = "other";
  P.Parameters = {"ignored"};
  EXPECT_EQ(P.BuildCommandLine(), "prog  'x y'   \"z w\"");
  EXPECT_EQ(P.ModuleName(), "");
  P.ApplicationName = "C:\\app.exe";
  EXPECT_EQ(P.ModuleName(), "C:\\app.exe");
  EXPECT_EQ(P.BuildCommandLine(), "prog  'x y'   \"z w\"");
}

TEST(ProcessCommandLine, ApplicationNameWithEmptyCommandLine) {
  TProcess P;
  P.ApplicationName = "C:\\app.exe";
  P.Executable = "x";
  EXPECT_EQ(P.BuildCommandLine(), "");
}

TEST(ProcessSplit, QuotedStretchesLoseTheirEnclosingQuotes) {
  TProcess P;
  P.SetCommandLine("prog 'single quoted' \"double quoted\"");
  EXPECT_EQ(P.Executable, "prog");
  ASSERT_EQ(P.Parameters.size(), 2u);
  EXPECT_EQ(P.Parameters[0], "single quoted");
  EXPECT_EQ(P.Parameters[1], "double quoted");
}

TEST(ProcessSplit, WordsOfACommandLine) {
  const std::pair<const char*, TStringList> Cases[] = {
      // A stretch after other characters keeps its quotes.
      {"a --name=\"x y\" b'c d'e", {"a", "--name=\"x y\"", "b'c d'e"}},
      // The other quote inside a stretch is ordinary.
      {"\"it's here\" 'say \"hi\"'", {"it's here", "say \"hi\""}},
      // Lone quote words are dropped: a quote opens a stretch, so a lone one
      // can only be the last word.
      {"a \"\" '' \"", {"a"}},
      {"a '", {"a"}},
      // All kinds of white space separate.
      {"\t a\r\nb  \t c \n", {"a", "b", "c"}},
      // An unclosed quote runs to the end.
      {"a \"b c", {"a", "\"b c"}},
  };
  for (const auto& [Text, Words] : Cases) EXPECT_EQ(TProcess::SplitCommandLineWords(Text), Words) << Text;
}

TEST(ProcessSplit, NoWordKeepsExecutableAndClearsParameters) {
  TProcess P;
  P.Executable = "keep";
  P.Parameters = {"old"};
  P.SetCommandLine("  '' \"");
  EXPECT_EQ(P.Executable, "keep");
  EXPECT_TRUE(P.Parameters.empty());
  EXPECT_EQ(P.CommandLine(), "  '' \"");
}

TEST(ProcessSplit, SameTextIsNotSplitAgainAndLoadingOnlyStores) {
  TProcess P;
  P.SetCommandLine("a b");
  P.Parameters = {"changed"};
  P.SetCommandLine("a b");
  EXPECT_EQ(P.Parameters, (TStringList{"changed"}));
  P.Loading = true;
  P.SetCommandLine("c d");
  EXPECT_EQ(P.CommandLine(), "c d");
  EXPECT_EQ(P.Executable, "a");
  EXPECT_EQ(P.Parameters, (TStringList{"changed"}));
}

// --- Property rules and start-up flags -------------------------------------

TEST(ProcessProperties, RunSuspendedRemovesWaitOnExit) {
  TProcess P;
  P.SetOptions({poRunSuspended, poWaitOnExit});
  EXPECT_EQ(P.Options(), TProcessOptions{poRunSuspended});
  P.SetOptions(P.Options() + poWaitOnExit);
  EXPECT_FALSE(P.Options().Contains(poWaitOnExit));
  P.SetOptions({poWaitOnExit});
  EXPECT_TRUE(P.Options().Contains(poWaitOnExit));
}

TEST(ProcessProperties, NewConsoleRemovesNoConsole) {
  TProcess P;
  P.SetOptions({poNoConsole, poNewConsole, poUsePipes});
  EXPECT_EQ(P.Options(), (TProcessOptions{poNewConsole, poUsePipes}));
  P.SetOptions({poNoConsole});
  EXPECT_EQ(P.Options(), TProcessOptions{poNoConsole});
}

TEST(ProcessProperties, WindowFieldsAddStartupOptions) {
  TProcess P;
  P.SetWindowLeft(0);
  P.SetWindowWidth(0);
  EXPECT_TRUE(P.StartupOptions.Empty());
  P.SetWindowTop(5);
  EXPECT_EQ(P.StartupOptions, TStartupOptions{suoUsePosition});
  P.SetWindowHeight(7);
  EXPECT_EQ(P.StartupOptions, (TStartupOptions{suoUsePosition, suoUseSize}));
  P.SetWindowRows(25);
  EXPECT_TRUE(P.StartupOptions.Contains(suoUseCountChars));
  P.SetWindowTop(0);
  EXPECT_EQ(P.WindowTop(), 0u);
  EXPECT_TRUE(P.StartupOptions.Contains(suoUsePosition));

  TProcess Q;
  Q.SetWindowLeft(1);
  EXPECT_EQ(Q.StartupOptions, TStartupOptions{suoUsePosition});
  TProcess R;
  R.SetWindowWidth(1);
  EXPECT_EQ(R.StartupOptions, TStartupOptions{suoUseSize});
  TProcess S;
  S.SetWindowColumns(80);
  EXPECT_EQ(S.StartupOptions, TStartupOptions{suoUseCountChars});
  EXPECT_EQ(S.WindowColumns(), 80u);
}

TEST(ProcessFlags, StartupFlagsFollowShowWindowAndFillAttribute) {
  TProcess P;
  EXPECT_EQ(P.StartupFlags(), 0u);
  P.StartupOptions = {suoUseShowWindow, suoUseSize, suoUsePosition, suoUseCountChars, suoUseFillAttribute};
  // swoNone clears the show-window flag whatever StartupOptions says.
  EXPECT_EQ(P.StartupFlags(), 0x1Eu);
  P.ShowWindow = swoHIDE;
  EXPECT_EQ(P.StartupFlags(), 0x1Fu);
  TProcess Q;
  Q.FillAttribute = 0x1F;
  Q.SetOptions({poUsePipes});
  EXPECT_EQ(Q.StartupFlags(), 0x110u);
  Q.ShowWindow = swoShowNormal;
  EXPECT_EQ(Q.StartupFlags(), 0x111u);
}

// --- Starting real children --------------------------------------------

TEST_F(ProcessTest, EmptyCommandLineRaisesAndStartsNothing) {
  TProcess P;
  P.Parameters = {"x"};
  EXPECT_EQ(ExecuteFailure(P), "Cannot execute empty command-line");
  EXPECT_FALSE(P.Running());
  EXPECT_EQ(P.ProcessID(), 0u);
  EXPECT_EQ(P.ProcessHandle(), 0);
}

TEST_F(ProcessTest, WaitOnExitReturnsAfterTheChildWithItsExitCode) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"args", PathOf("out.txt"), "x"};
  P.SetOptions(P.Options() + poWaitOnExit);
  P.Execute();
  EXPECT_FALSE(P.Running());
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "[x]\n");
  EXPECT_NE(P.ProcessID(), 0u);
  EXPECT_NE(P.ProcessHandle(), 0);
}

TEST_F(ProcessTest, WaitForExitReadsTheExitCode) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"exit", "42"};
  P.Execute();
  EXPECT_TRUE(P.WaitForExit());
  EXPECT_FALSE(P.Running());
  EXPECT_FALSE(P.Active());
  EXPECT_EQ(P.ExitCode(), 42u);
  // A second wait on an ended child returns at once and keeps the code.
  EXPECT_TRUE(P.WaitForExit());
  EXPECT_EQ(P.ExitCode(), 42u);
}

TEST_F(ProcessTest, WaitWithoutChildFails) {
  TProcess P;
  EXPECT_FALSE(P.WaitForExit());
  EXPECT_FALSE(P.Terminate(1));
  EXPECT_EQ(P.Suspend(), -1);
  EXPECT_EQ(P.Resume(), -1);
}

TEST_F(ProcessTest, MissingProgramRaisesWithTheCommandLineAndCode) {
  TProcess P;
  P.Executable = PathOf("no such program.exe");
  P.Parameters = {"a b", ""};
  EXPECT_EQ(ExecuteFailure(P), "Failed to execute \"" + PathOf("no such program.exe") + "\" \"a b\"  : 2");
  EXPECT_FALSE(P.Running());
  EXPECT_EQ(P.ProcessHandle(), 0);
  EXPECT_EQ(P.ProcessID(), 0u);
}

TEST_F(ProcessTest, MissingProgramWithPipesAndEnvironmentRaises) {
  TProcess P;
  P.Executable = PathOf("missing.exe");
  P.Environment = {"A=1"};
  P.SetOptions({poUsePipes});
  EXPECT_EQ(ExecuteFailure(P), "Failed to execute " + PathOf("missing.exe") + " : 2");
  EXPECT_EQ(P.InputPipe(), nullptr);
  EXPECT_EQ(P.OutputPipe(), nullptr);
}

TEST_F(ProcessTest, FilesThatAreNoProgramsRaise) {
  const struct {
    const char* Name;
    const char* Content;
    bool Executable;
    int Error;
  } Cases[] = {
      {"data.exe", "not a program", false, NotExecutableError},
      {"junk.exe", "\x01\x02 not a program either", true, NotAProgramError},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    WriteFile(PathOf(C.Name), C.Content);
    if (C.Executable) fsys::permissions(PathOf(C.Name), fsys::perms::owner_exec, fsys::perm_options::add);
    TProcess P;
    P.Executable = PathOf(C.Name);
    EXPECT_EQ(ExecuteFailure(P), FormatText("Failed to execute %s : %d", PathOf(C.Name), C.Error));
    EXPECT_FALSE(P.Running());
  }
}

TEST_F(ProcessTest, SuspendedStartOfANonProgramIsReported) {
  WriteFile(PathOf("junk.exe"), "\x01\x02 not a program either");
  fsys::permissions(PathOf("junk.exe"), fsys::perms::owner_exec, fsys::perm_options::add);
  TProcess P;
  P.Executable = PathOf("junk.exe");
  P.SetOptions({poRunSuspended});
  // Loading the program may fail at creation or, where the child loads it
  // only when resumed, at Resume: either way the failure is raised.
  std::string Msg = ExecuteFailure(P);
  if (Msg.empty()) {
    try {
      P.Resume();
    } catch (const EProcess& E) {
      Msg = E.Message();
    }
  }
  EXPECT_EQ(Msg, FormatText("Failed to execute %s : %d", PathOf("junk.exe"), NotAProgramError));
  EXPECT_FALSE(P.Running());
}

TEST_F(ProcessTest, SuspendedStartOfAMissingProgramRaisesAtOnce) {
  TProcess P;
  P.Executable = PathOf("missing.exe");
  P.SetOptions({poRunSuspended});
  EXPECT_EQ(ExecuteFailure(P), "Failed to execute " + PathOf("missing.exe") + " : 2");
  EXPECT_FALSE(P.Running());
  EXPECT_EQ(P.ProcessHandle(), 0);
}

TEST_F(ProcessTest, QuotedPathWithSpacesStartsTheProgram) {
  fsys::create_directories(FDir / "with space");
  const std::string Copy = (FDir / "with space" / ("child copy" + fsys::path(Child).extension().string())).string();
  fsys::copy_file(Child, Copy);
  TProcess P;
  P.Executable = "\"" + Copy + "\"";
  P.Parameters = {"args", PathOf("q.txt"), "x y"};
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("q.txt")), "[x y]\n");

  TProcess Unquoted;  // quoted by QuoteIfNeeded where a command line is built
  Unquoted.Executable = Copy;
  Unquoted.Parameters = {"exit", "9"};
  Unquoted.SetOptions({poWaitOnExit});
  Unquoted.Execute();
  EXPECT_EQ(Unquoted.ExitCode(), 9u);
}

TEST_F(ProcessTest, ProgramAndFolderWithNonAsciiNamesStart) {
  // Paths are UTF-8 text.
  const fsys::path Folder = FDir / fsys::u8path("dossier \xc3\xa9t\xc3\xa9");
  fsys::create_directories(Folder);
  const fsys::path Copy = Folder / fsys::u8path("\xc3\xa9l\xc3\xa8ve" + fsys::path(Child).extension().string());
  fsys::copy_file(Child, Copy);
  TProcess P;
  P.Executable = "\"" + Copy.u8string() + "\"";
  P.Parameters = {"exit", "12"};
  P.CurrentDirectory = Folder.u8string();
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 12u);
}

TEST_F(ProcessTest, BadWorkingFolderRaises) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"exit", "0"};
  P.CurrentDirectory = PathOf("no-such-folder");
  EXPECT_EQ(ExecuteFailure(P), FormatText("Failed to execute %s exit 0 : %d", Child, BadFolderError));
  EXPECT_FALSE(P.Running());
}

TEST_F(ProcessTest, SuspendedStartInABadFolderRaisesAtOnce) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"exit", "0"};
  P.CurrentDirectory = PathOf("no-such-folder");
  P.SetOptions({poRunSuspended, poUsePipes});
  EXPECT_EQ(ExecuteFailure(P), FormatText("Failed to execute %s exit 0 : %d", Child, BadFolderError));
  EXPECT_FALSE(P.Running());
  EXPECT_EQ(P.InputPipe(), nullptr);
}

TEST_F(ProcessTest, WindowPriorityAndGroupSettingsStillStartTheChild) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"exit", "11"};
  P.SetOptions({poWaitOnExit, poNoConsole, poNewProcessGroup, poDefaultErrorMode});
  P.Priority = ppIdle;
  P.ShowWindow = swoHIDE;
  P.FillAttribute = 0x1F;
  P.SetWindowLeft(10);
  P.SetWindowWidth(300);
  P.SetWindowColumns(80);
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 11u);
}

TEST_F(ProcessTest, ParametersReachTheChildOneArgumentEach) {
  TProcess P;
  P.Executable = "\"" + Child + "\"";
  P.Parameters = {"args", PathOf("args.txt"), "first", "a b", "", "last"};
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("args.txt")), EmptyParameterLines);
}

TEST_F(ProcessTest, CommandLineReachesTheChild) {
  TProcess P;
  P.SetCommandLine("\"" + Child + "\" args \"" + PathOf("cl.txt") + "\" one \"two three\"");
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("cl.txt")), "[one]\n[two three]\n");
}

TEST_F(ProcessTest, ApplicationNameIsTheProgram) {
  TProcess P;
  P.ApplicationName = Child;
  P.SetCommandLine("whatever args \"" + PathOf("an.txt") + "\" z");
  EXPECT_EQ(P.Executable, "whatever");
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("an.txt")), "[z]\n");
}

TEST_F(ProcessTest, EnvironmentReachesTheChild) {
  SetVariable("QB_PROBE_INHERITED=from parent");
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"env", "QB_PROBE", PathOf("env.txt")};
  P.Environment = {"QB_PROBE=hello world", "OTHER=1"};
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("env.txt")), "hello world");

  // Only the given entries: the parent's own variables are not passed.
  TProcess Q;
  Q.Executable = Child;
  Q.Parameters = {"env", "QB_PROBE_INHERITED", PathOf("env2.txt")};
  Q.Environment = {"QB_PROBE=x"};
  Q.SetOptions({poWaitOnExit});
  Q.Execute();
  EXPECT_EQ(ReadFile(PathOf("env2.txt")), "(unset)");
}

TEST_F(ProcessTest, EmptyEnvironmentInheritsTheCallers) {
  SetVariable("QB_PROBE_INHERITED=from parent");
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"env", "QB_PROBE_INHERITED", PathOf("env.txt")};
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("env.txt")), "from parent");
}

TEST_F(ProcessTest, WorkingFolderReachesTheChild) {
  fsys::create_directories(FDir / "work dir");
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"cwd", PathOf("cwd.txt")};
  P.CurrentDirectory = PathOf("work dir");
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_TRUE(fsys::equivalent(fsys::path(ReadFile(PathOf("cwd.txt"))), FDir / "work dir"));
}

TEST_F(ProcessTest, SuspendedStartRunsOnlyAfterResume) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"args", PathOf("s.txt"), "ran"};
  P.SetOptions({poRunSuspended, poWaitOnExit});
  P.Execute();  // returns at once although poWaitOnExit was asked for
  EXPECT_TRUE(P.Running());
  // Give a child that wrongly runs the time to write its file.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fsys::exists(PathOf("s.txt")));
  EXPECT_TRUE(P.Running());
  EXPECT_EQ(P.Resume(), 1);
  EXPECT_TRUE(P.WaitForExit());
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("s.txt")), "[ran]\n");
}

TEST_F(ProcessTest, SuspendAndResumeCount) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"sleep", "30000"};
  P.Execute();
  EXPECT_EQ(P.Suspend(), 0);
  EXPECT_EQ(P.Suspend(), 1);
  EXPECT_EQ(P.Resume(), 2);
  EXPECT_EQ(P.Resume(), 1);
  EXPECT_EQ(P.Resume(), 0);
  EXPECT_TRUE(P.Running());
  EXPECT_TRUE(P.Terminate(3));
  EXPECT_TRUE(P.WaitForExit());
}

TEST_F(ProcessTest, TerminateEndsARunningChild) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"sleep", "30000"};
  P.Execute();
  EXPECT_TRUE(P.Running());
  EXPECT_TRUE(P.Terminate(7));
  EXPECT_TRUE(P.WaitForExit());
  EXPECT_FALSE(P.Running());
  EXPECT_EQ(P.ExitCode(), TerminatedExitCode);
  // An ended child is not terminated again.
  EXPECT_FALSE(P.Terminate(8));
  EXPECT_EQ(P.ExitCode(), TerminatedExitCode);
}

TEST_F(ProcessTest, TerminateASuspendedChild) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"args", PathOf("never.txt")};
  P.SetOptions({poRunSuspended});
  P.Execute();
  EXPECT_TRUE(P.Terminate(7));
  EXPECT_TRUE(P.WaitForExit());
  EXPECT_EQ(P.ExitCode(), TerminatedExitCode);
  EXPECT_FALSE(fsys::exists(PathOf("never.txt")));
}

TEST_F(ProcessTest, ActiveStartsAndEnds) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"sleep", "30000"};
  P.SetActive(true);
  EXPECT_TRUE(P.Active());
  uint32_t FirstId = P.ProcessID();
  P.SetActive(true);  // already running: nothing new is started
  EXPECT_EQ(P.ProcessID(), FirstId);
  P.SetActive(false);
  EXPECT_TRUE(P.WaitForExit());
  EXPECT_FALSE(P.Active());
}

TEST_F(ProcessTest, PipesRoundTrip) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"echoerr"};
  P.SetOptions({poUsePipes});
  P.Execute();
  ASSERT_NE(P.InputPipe(), nullptr);
  ASSERT_NE(P.OutputPipe(), nullptr);
  ASSERT_NE(P.ErrorPipe(), nullptr);
  EXPECT_NE(P.ErrorPipe(), P.OutputPipe());
  const std::string Text = "ping through the pipe";
  P.InputPipe()->WriteBuffer(Text.data(), static_cast<int32_t>(Text.size()));
  P.CloseInputPipe();
  EXPECT_EQ(P.InputPipe(), nullptr);
  EXPECT_EQ(ReadAll(*P.OutputPipe()), Text);
  EXPECT_EQ(ReadAll(*P.ErrorPipe()), "[err]");
  EXPECT_TRUE(P.WaitForExit());
  EXPECT_EQ(P.ExitCode(), 0u);
  EXPECT_EQ(P.OutputPipe()->Seek(0, soBeginning), -1);
  P.CloseErrorPipe();
  P.CloseOutputPipe();
  EXPECT_EQ(P.ErrorPipe(), nullptr);
  EXPECT_EQ(P.OutputPipe(), nullptr);
}

TEST_F(ProcessTest, StderrIntoTheOutputPipe) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"echoerr"};
  P.SetOptions({poUsePipes, poStderrToOutPut});
  P.Execute();
  ASSERT_NE(P.OutputPipe(), nullptr);
  EXPECT_EQ(P.ErrorPipe(), P.OutputPipe());
  P.InputPipe()->WriteBuffer("abc", 3);
  P.CloseInputPipe();
  EXPECT_EQ(ReadAll(*P.OutputPipe()), "abc[err]");
  EXPECT_TRUE(P.WaitForExit());
  // Closing the error pipe leaves the shared output stream alone.
  P.CloseErrorPipe();
  EXPECT_EQ(P.ErrorPipe(), nullptr);
  ASSERT_NE(P.OutputPipe(), nullptr);
  EXPECT_EQ(P.OutputPipe()->Read(nullptr, 0), 0);
}

TEST_F(ProcessTest, PipesWithoutInheritedHandlesAndSuspendedStart) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"echo"};
  P.InheritHandles = false;
  P.SetOptions({poUsePipes, poStderrToOutPut, poRunSuspended});
  P.Execute();
  ASSERT_NE(P.InputPipe(), nullptr);
  P.InputPipe()->WriteBuffer("early", 5);  // waits in the pipe meanwhile
  EXPECT_EQ(P.Resume(), 1);
  P.CloseInputPipe();
  EXPECT_EQ(ReadAll(*P.OutputPipe()), "early");
  EXPECT_TRUE(P.WaitForExit());
  EXPECT_EQ(P.ExitCode(), 0u);
}

TEST_F(ProcessTest, WriteToAnEndedChildFailsWithoutEndingTheCaller) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"exit", "0"};
  P.SetOptions({poUsePipes, poWaitOnExit});
  P.Execute();
  EXPECT_FALSE(P.Running());
  ASSERT_NE(P.InputPipe(), nullptr);
  EXPECT_EQ(P.InputPipe()->Write("x", 1), 0);
  EXPECT_THROW(P.InputPipe()->WriteBuffer("xy", 2), EWriteError);
  EXPECT_EQ(ReadAll(*P.OutputPipe()), "");
}

TEST_F(ProcessTest, LargeTransferThroughThePipes) {
  TProcess Proc;
  Proc.Executable = Child;
  Proc.Parameters = {"echo"};
  Proc.SetOptions({poUsePipes});
  Proc.PipeBufferSize = 1 << 20;
  Proc.Execute();
  std::string Data;
  for (int I = 0; I < 20000; ++I) Data += "line " + std::to_string(I) + "; ";
  // Write and read on two threads: each pipe holds only part of the data.
  std::thread Writer([&] {
    Proc.InputPipe()->WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
    Proc.CloseInputPipe();
  });
  std::string Back = ReadAll(*Proc.OutputPipe());
  Writer.join();
  EXPECT_EQ(Back.size(), Data.size());
  EXPECT_TRUE(Back == Data);
  EXPECT_TRUE(Proc.WaitForExit());
}

TEST_F(ProcessTest, DestroyingTheObjectLeavesTheChildRunning) {
  const std::string Go = PathOf("go"), Done = PathOf("done");
  {
    TProcess P;
    P.Executable = Child;
    P.Parameters = {"waitfile", Go, Done};
    P.Execute();
    EXPECT_TRUE(P.Running());
  }
  WriteFile(Go, "go");
  // The child answers only while it still runs.
  bool Seen = false;
  for (int I = 0; I < 3000 && !Seen; ++I) {
    Seen = fsys::exists(Done);
    if (!Seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(Seen);
}

TEST_F(ProcessTest, ASecondExecuteStartsAFreshChild) {
  TProcess P;
  P.Executable = Child;
  P.Parameters = {"exit", "3"};
  P.SetOptions({poWaitOnExit});
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 3u);
  P.Parameters = {"exit", "4"};
  P.Execute();
  EXPECT_EQ(P.ExitCode(), 4u);
}

}  // namespace
