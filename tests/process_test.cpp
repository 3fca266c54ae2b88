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

const std::string kChild = QB_PROCESS_CHILD;

// What differs between the two platforms' process creation.
#ifdef _WIN32
constexpr uint32_t kTerminatedExitCode = 7;  // the code given to Terminate
constexpr int kNotExecutableError = 193;     // ERROR_BAD_EXE_FORMAT
constexpr int kNotAProgramError = 193;       // ERROR_BAD_EXE_FORMAT
constexpr int kBadFolderError = 267;         // ERROR_DIRECTORY
const char* const kEmptyParameterLines = "[first]\n[a b]\n[last]\n";  // only a space is left
void SetVariable(const char* Assignment) { _putenv(Assignment); }
#else
constexpr uint32_t kTerminatedExitCode = 128 + 9;  // ended by SIGKILL
constexpr int kNotExecutableError = 13;            // EACCES
constexpr int kNotAProgramError = 8;               // ENOEXEC
constexpr int kBadFolderError = 2;                 // ENOENT
const char* const kEmptyParameterLines = "[first]\n[a b]\n[]\n[last]\n";
void SetVariable(const char* Assignment) { putenv(const_cast<char*>(Assignment)); }
#endif

// A scratch folder of its own for each test.
class ProcessTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Scratch.Path(Name); }
  static std::string ReadAll(TStream& S) {
    std::string out;
    char buf[256];
    int32_t n;
    while ((n = S.Read(buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }
  // The failure message Execute raised, or "" when it raised none.
  static std::string ExecuteFailure(TProcess& P) {
    try {
      P.Execute();
    } catch (const EProcess& e) {
      return e.Message();
    }
    return "";
  }
  qbtest::TScratchFolder Scratch;
  const fsys::path& Dir = Scratch.Root();
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
  TProcess p;
  p.Parameters.push_back("");
  p.Executable = "\"C:\\Users\\A B\\Temp\\quintabel5\\quintabel.exe\"";
  EXPECT_EQ(p.BuildCommandLine(), "\"C:\\Users\\A B\\Temp\\quintabel5\\quintabel.exe\" ");
  EXPECT_EQ(p.ModuleName(), "");
}

TEST(ProcessCommandLine, ParametersAreQuotedOneByOne) {
  TProcess p;
  p.Executable = "C:\\Program Files\\q.exe";
  p.Parameters = {"one", "two words", "has \"quote\" inside", ""};
  EXPECT_EQ(p.BuildCommandLine(),
            "\"C:\\Program Files\\q.exe\" one \"two words\" has \"quote\" inside ");
}

TEST(ProcessCommandLine, CommandLineIsHandedOverUnchanged) {
  TProcess p;
  p.SetCommandLine("prog  'x y'   \"z w\"");
  p.Executable = "other";
  p.Parameters = {"ignored"};
  EXPECT_EQ(p.BuildCommandLine(), "prog  'x y'   \"z w\"");
  EXPECT_EQ(p.ModuleName(), "");
  p.ApplicationName = "C:\\app.exe";
  EXPECT_EQ(p.ModuleName(), "C:\\app.exe");
  EXPECT_EQ(p.BuildCommandLine(), "prog  'x y'   \"z w\"");
}

TEST(ProcessCommandLine, ApplicationNameWithEmptyCommandLine) {
  TProcess p;
  p.ApplicationName = "C:\\app.exe";
  p.Executable = "x";
  EXPECT_EQ(p.BuildCommandLine(), "");
}

TEST(ProcessSplit, QuotedStretchesLoseTheirEnclosingQuotes) {
  TProcess p;
  p.SetCommandLine("prog 'single quoted' \"double quoted\"");
  EXPECT_EQ(p.Executable, "prog");
  ASSERT_EQ(p.Parameters.size(), 2u);
  EXPECT_EQ(p.Parameters[0], "single quoted");
  EXPECT_EQ(p.Parameters[1], "double quoted");
}

TEST(ProcessSplit, StretchAfterOtherCharactersKeepsItsQuotes) {
  EXPECT_EQ(TProcess::SplitCommandLineWords("a --name=\"x y\" b'c d'e"),
            (TStringList{"a", "--name=\"x y\"", "b'c d'e"}));
}

TEST(ProcessSplit, OtherQuoteInsideAStretchIsOrdinary) {
  EXPECT_EQ(TProcess::SplitCommandLineWords("\"it's here\" 'say \"hi\"'"),
            (TStringList{"it's here", "say \"hi\""}));
}

TEST(ProcessSplit, LoneQuoteWordsAreDropped) {
  // A quote opens a stretch, so a lone one can only be the last word.
  EXPECT_EQ(TProcess::SplitCommandLineWords("a \"\" '' \""), (TStringList{"a"}));
  EXPECT_EQ(TProcess::SplitCommandLineWords("a '"), (TStringList{"a"}));
}

TEST(ProcessSplit, AllWhitespaceKindsSeparate) {
  EXPECT_EQ(TProcess::SplitCommandLineWords("\t a\r\nb  \t c \n"), (TStringList{"a", "b", "c"}));
}

TEST(ProcessSplit, UnclosedQuoteRunsToTheEnd) {
  EXPECT_EQ(TProcess::SplitCommandLineWords("a \"b c"), (TStringList{"a", "\"b c"}));
}

TEST(ProcessSplit, NoWordKeepsExecutableAndClearsParameters) {
  TProcess p;
  p.Executable = "keep";
  p.Parameters = {"old"};
  p.SetCommandLine("  '' \"");
  EXPECT_EQ(p.Executable, "keep");
  EXPECT_TRUE(p.Parameters.empty());
  EXPECT_EQ(p.CommandLine(), "  '' \"");
}

TEST(ProcessSplit, SameTextIsNotSplitAgainAndLoadingOnlyStores) {
  TProcess p;
  p.SetCommandLine("a b");
  p.Parameters = {"changed"};
  p.SetCommandLine("a b");
  EXPECT_EQ(p.Parameters, (TStringList{"changed"}));
  p.Loading = true;
  p.SetCommandLine("c d");
  EXPECT_EQ(p.CommandLine(), "c d");
  EXPECT_EQ(p.Executable, "a");
  EXPECT_EQ(p.Parameters, (TStringList{"changed"}));
}

// --- Property rules and start-up flags -------------------------------------

TEST(ProcessProperties, RunSuspendedRemovesWaitOnExit) {
  TProcess p;
  p.SetOptions({poRunSuspended, poWaitOnExit});
  EXPECT_EQ(p.Options(), TProcessOptions{poRunSuspended});
  p.SetOptions(p.Options() + poWaitOnExit);
  EXPECT_FALSE(p.Options().Contains(poWaitOnExit));
  p.SetOptions({poWaitOnExit});
  EXPECT_TRUE(p.Options().Contains(poWaitOnExit));
}

TEST(ProcessProperties, NewConsoleRemovesNoConsole) {
  TProcess p;
  p.SetOptions({poNoConsole, poNewConsole, poUsePipes});
  EXPECT_EQ(p.Options(), (TProcessOptions{poNewConsole, poUsePipes}));
  p.SetOptions({poNoConsole});
  EXPECT_EQ(p.Options(), TProcessOptions{poNoConsole});
}

TEST(ProcessProperties, WindowFieldsAddStartupOptions) {
  TProcess p;
  p.SetWindowLeft(0);
  p.SetWindowWidth(0);
  EXPECT_TRUE(p.StartupOptions.Empty());
  p.SetWindowTop(5);
  EXPECT_EQ(p.StartupOptions, TStartupOptions{suoUsePosition});
  p.SetWindowHeight(7);
  EXPECT_EQ(p.StartupOptions, (TStartupOptions{suoUsePosition, suoUseSize}));
  p.SetWindowRows(25);
  EXPECT_TRUE(p.StartupOptions.Contains(suoUseCountChars));
  p.SetWindowTop(0);
  EXPECT_EQ(p.WindowTop(), 0u);
  EXPECT_TRUE(p.StartupOptions.Contains(suoUsePosition));

  TProcess q;
  q.SetWindowLeft(1);
  EXPECT_EQ(q.StartupOptions, TStartupOptions{suoUsePosition});
  TProcess r;
  r.SetWindowWidth(1);
  EXPECT_EQ(r.StartupOptions, TStartupOptions{suoUseSize});
  TProcess s;
  s.SetWindowColumns(80);
  EXPECT_EQ(s.StartupOptions, TStartupOptions{suoUseCountChars});
  EXPECT_EQ(s.WindowColumns(), 80u);
}

TEST(ProcessFlags, StartupFlagsFollowShowWindowAndFillAttribute) {
  TProcess p;
  EXPECT_EQ(p.StartupFlags(), 0u);
  p.StartupOptions = {suoUseShowWindow, suoUseSize, suoUsePosition, suoUseCountChars,
                      suoUseFillAttribute};
  // swoNone clears the show-window flag whatever StartupOptions says.
  EXPECT_EQ(p.StartupFlags(), 0x1Eu);
  p.ShowWindow = swoHIDE;
  EXPECT_EQ(p.StartupFlags(), 0x1Fu);
  TProcess q;
  q.FillAttribute = 0x1F;
  q.SetOptions({poUsePipes});
  EXPECT_EQ(q.StartupFlags(), 0x110u);
  q.ShowWindow = swoShowNormal;
  EXPECT_EQ(q.StartupFlags(), 0x111u);
}

// --- Starting real children --------------------------------------------

TEST_F(ProcessTest, EmptyCommandLineRaisesAndStartsNothing) {
  TProcess p;
  p.Parameters = {"x"};
  EXPECT_EQ(ExecuteFailure(p), "Cannot execute empty command-line");
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.ProcessID(), 0u);
  EXPECT_EQ(p.ProcessHandle(), 0);
}

TEST_F(ProcessTest, WaitOnExitReturnsAfterTheChildWithItsExitCode) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"args", PathOf("out.txt"), "x"};
  p.SetOptions(p.Options() + poWaitOnExit);
  p.Execute();
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "[x]\n");
  EXPECT_NE(p.ProcessID(), 0u);
  EXPECT_NE(p.ProcessHandle(), 0);
}

TEST_F(ProcessTest, WaitForExitReadsTheExitCode) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"exit", "42"};
  p.Execute();
  EXPECT_TRUE(p.WaitForExit());
  EXPECT_FALSE(p.Running());
  EXPECT_FALSE(p.Active());
  EXPECT_EQ(p.ExitCode(), 42u);
  // A second wait on an ended child returns at once and keeps the code.
  EXPECT_TRUE(p.WaitForExit());
  EXPECT_EQ(p.ExitCode(), 42u);
}

TEST_F(ProcessTest, WaitWithoutChildFails) {
  TProcess p;
  EXPECT_FALSE(p.WaitForExit());
  EXPECT_FALSE(p.Terminate(1));
  EXPECT_EQ(p.Suspend(), -1);
  EXPECT_EQ(p.Resume(), -1);
}

TEST_F(ProcessTest, MissingProgramRaisesWithTheCommandLineAndCode) {
  TProcess p;
  p.Executable = PathOf("no such program.exe");
  p.Parameters = {"a b", ""};
  EXPECT_EQ(ExecuteFailure(p),
            "Failed to execute \"" + PathOf("no such program.exe") + "\" \"a b\"  : 2");
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.ProcessHandle(), 0);
  EXPECT_EQ(p.ProcessID(), 0u);
}

TEST_F(ProcessTest, MissingProgramWithPipesAndEnvironmentRaises) {
  TProcess p;
  p.Executable = PathOf("missing.exe");
  p.Environment = {"A=1"};
  p.SetOptions({poUsePipes});
  EXPECT_EQ(ExecuteFailure(p), "Failed to execute " + PathOf("missing.exe") + " : 2");
  EXPECT_EQ(p.InputPipe(), nullptr);
  EXPECT_EQ(p.OutputPipe(), nullptr);
}

TEST_F(ProcessTest, NonExecutableFileRaises) {
  WriteFile(PathOf("data.exe"), "not a program");
  TProcess p;
  p.Executable = PathOf("data.exe");
  EXPECT_EQ(ExecuteFailure(p),
            FormatText("Failed to execute %s : %d", PathOf("data.exe"), kNotExecutableError));
  EXPECT_FALSE(p.Running());
}

TEST_F(ProcessTest, ExecutableFileThatIsNoProgramRaises) {
  WriteFile(PathOf("junk.exe"), "\x01\x02 not a program either");
  fsys::permissions(PathOf("junk.exe"), fsys::perms::owner_exec, fsys::perm_options::add);
  TProcess p;
  p.Executable = PathOf("junk.exe");
  EXPECT_EQ(ExecuteFailure(p),
            FormatText("Failed to execute %s : %d", PathOf("junk.exe"), kNotAProgramError));
  EXPECT_FALSE(p.Running());
}

TEST_F(ProcessTest, SuspendedStartOfANonProgramIsReported) {
  WriteFile(PathOf("junk.exe"), "\x01\x02 not a program either");
  fsys::permissions(PathOf("junk.exe"), fsys::perms::owner_exec, fsys::perm_options::add);
  TProcess p;
  p.Executable = PathOf("junk.exe");
  p.SetOptions({poRunSuspended});
  // Loading the program may fail at creation or, where the child loads it
  // only when resumed, at Resume: either way the failure is raised.
  std::string msg = ExecuteFailure(p);
  if (msg.empty()) {
    try {
      p.Resume();
    } catch (const EProcess& e) {
      msg = e.Message();
    }
  }
  EXPECT_EQ(msg, FormatText("Failed to execute %s : %d", PathOf("junk.exe"), kNotAProgramError));
  EXPECT_FALSE(p.Running());
}

TEST_F(ProcessTest, SuspendedStartOfAMissingProgramRaisesAtOnce) {
  TProcess p;
  p.Executable = PathOf("missing.exe");
  p.SetOptions({poRunSuspended});
  EXPECT_EQ(ExecuteFailure(p), "Failed to execute " + PathOf("missing.exe") + " : 2");
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.ProcessHandle(), 0);
}

TEST_F(ProcessTest, QuotedPathWithSpacesStartsTheProgram) {
  fsys::create_directories(Dir / "with space");
  const std::string copy =
      (Dir / "with space" / ("child copy" + fsys::path(kChild).extension().string())).string();
  fsys::copy_file(kChild, copy);
  TProcess p;
  p.Executable = "\"" + copy + "\"";
  p.Parameters = {"args", PathOf("q.txt"), "x y"};
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("q.txt")), "[x y]\n");

  TProcess unquoted;  // quoted by QuoteIfNeeded where a command line is built
  unquoted.Executable = copy;
  unquoted.Parameters = {"exit", "9"};
  unquoted.SetOptions({poWaitOnExit});
  unquoted.Execute();
  EXPECT_EQ(unquoted.ExitCode(), 9u);
}

TEST_F(ProcessTest, ProgramAndFolderWithNonAsciiNamesStart) {
  // Paths are UTF-8 text.
  const fsys::path folder = Dir / fsys::u8path("dossier \xc3\xa9t\xc3\xa9");
  fsys::create_directories(folder);
  const fsys::path copy = folder / fsys::u8path("\xc3\xa9l\xc3\xa8ve" + fsys::path(kChild).extension().string());
  fsys::copy_file(kChild, copy);
  TProcess p;
  p.Executable = "\"" + copy.u8string() + "\"";
  p.Parameters = {"exit", "12"};
  p.CurrentDirectory = folder.u8string();
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 12u);
}

TEST_F(ProcessTest, BadWorkingFolderRaises) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"exit", "0"};
  p.CurrentDirectory = PathOf("no-such-folder");
  EXPECT_EQ(ExecuteFailure(p),
            FormatText("Failed to execute %s exit 0 : %d", kChild, kBadFolderError));
  EXPECT_FALSE(p.Running());
}

TEST_F(ProcessTest, SuspendedStartInABadFolderRaisesAtOnce) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"exit", "0"};
  p.CurrentDirectory = PathOf("no-such-folder");
  p.SetOptions({poRunSuspended, poUsePipes});
  EXPECT_EQ(ExecuteFailure(p),
            FormatText("Failed to execute %s exit 0 : %d", kChild, kBadFolderError));
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.InputPipe(), nullptr);
}

TEST_F(ProcessTest, WindowPriorityAndGroupSettingsStillStartTheChild) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"exit", "11"};
  p.SetOptions({poWaitOnExit, poNoConsole, poNewProcessGroup, poDefaultErrorMode});
  p.Priority = ppIdle;
  p.ShowWindow = swoHIDE;
  p.FillAttribute = 0x1F;
  p.SetWindowLeft(10);
  p.SetWindowWidth(300);
  p.SetWindowColumns(80);
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 11u);
}

TEST_F(ProcessTest, ParametersReachTheChildOneArgumentEach) {
  TProcess p;
  p.Executable = "\"" + kChild + "\"";
  p.Parameters = {"args", PathOf("args.txt"), "first", "a b", "", "last"};
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("args.txt")), kEmptyParameterLines);
}

TEST_F(ProcessTest, CommandLineReachesTheChild) {
  TProcess p;
  p.SetCommandLine("\"" + kChild + "\" args \"" + PathOf("cl.txt") + "\" one \"two three\"");
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("cl.txt")), "[one]\n[two three]\n");
}

TEST_F(ProcessTest, ApplicationNameIsTheProgram) {
  TProcess p;
  p.ApplicationName = kChild;
  p.SetCommandLine("whatever args \"" + PathOf("an.txt") + "\" z");
  EXPECT_EQ(p.Executable, "whatever");
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("an.txt")), "[z]\n");
}

TEST_F(ProcessTest, EnvironmentReachesTheChild) {
  SetVariable("QB_PROBE_INHERITED=from parent");
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"env", "QB_PROBE", PathOf("env.txt")};
  p.Environment = {"QB_PROBE=hello world", "OTHER=1"};
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("env.txt")), "hello world");

  // Only the given entries: the parent's own variables are not passed.
  TProcess q;
  q.Executable = kChild;
  q.Parameters = {"env", "QB_PROBE_INHERITED", PathOf("env2.txt")};
  q.Environment = {"QB_PROBE=x"};
  q.SetOptions({poWaitOnExit});
  q.Execute();
  EXPECT_EQ(ReadFile(PathOf("env2.txt")), "(unset)");
}

TEST_F(ProcessTest, EmptyEnvironmentInheritsTheCallers) {
  SetVariable("QB_PROBE_INHERITED=from parent");
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"env", "QB_PROBE_INHERITED", PathOf("env.txt")};
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("env.txt")), "from parent");
}

TEST_F(ProcessTest, WorkingFolderReachesTheChild) {
  fsys::create_directories(Dir / "work dir");
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"cwd", PathOf("cwd.txt")};
  p.CurrentDirectory = PathOf("work dir");
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_TRUE(fsys::equivalent(fsys::path(ReadFile(PathOf("cwd.txt"))), Dir / "work dir"));
}

TEST_F(ProcessTest, SuspendedStartRunsOnlyAfterResume) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"args", PathOf("s.txt"), "ran"};
  p.SetOptions({poRunSuspended, poWaitOnExit});
  p.Execute();  // returns at once although poWaitOnExit was asked for
  EXPECT_TRUE(p.Running());
  // Give a child that wrongly runs the time to write its file.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fsys::exists(PathOf("s.txt")));
  EXPECT_TRUE(p.Running());
  EXPECT_EQ(p.Resume(), 1);
  EXPECT_TRUE(p.WaitForExit());
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(ReadFile(PathOf("s.txt")), "[ran]\n");
}

TEST_F(ProcessTest, SuspendAndResumeCount) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"sleep", "30000"};
  p.Execute();
  EXPECT_EQ(p.Suspend(), 0);
  EXPECT_EQ(p.Suspend(), 1);
  EXPECT_EQ(p.Resume(), 2);
  EXPECT_EQ(p.Resume(), 1);
  EXPECT_EQ(p.Resume(), 0);
  EXPECT_TRUE(p.Running());
  EXPECT_TRUE(p.Terminate(3));
  EXPECT_TRUE(p.WaitForExit());
}

TEST_F(ProcessTest, TerminateEndsARunningChild) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"sleep", "30000"};
  p.Execute();
  EXPECT_TRUE(p.Running());
  EXPECT_TRUE(p.Terminate(7));
  EXPECT_TRUE(p.WaitForExit());
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.ExitCode(), kTerminatedExitCode);
  // An ended child is not terminated again.
  EXPECT_FALSE(p.Terminate(8));
  EXPECT_EQ(p.ExitCode(), kTerminatedExitCode);
}

TEST_F(ProcessTest, TerminateASuspendedChild) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"args", PathOf("never.txt")};
  p.SetOptions({poRunSuspended});
  p.Execute();
  EXPECT_TRUE(p.Terminate(7));
  EXPECT_TRUE(p.WaitForExit());
  EXPECT_EQ(p.ExitCode(), kTerminatedExitCode);
  EXPECT_FALSE(fsys::exists(PathOf("never.txt")));
}

TEST_F(ProcessTest, ActiveStartsAndEnds) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"sleep", "30000"};
  p.SetActive(true);
  EXPECT_TRUE(p.Active());
  uint32_t firstId = p.ProcessID();
  p.SetActive(true);  // already running: nothing new is started
  EXPECT_EQ(p.ProcessID(), firstId);
  p.SetActive(false);
  EXPECT_TRUE(p.WaitForExit());
  EXPECT_FALSE(p.Active());
}

TEST_F(ProcessTest, PipesRoundTrip) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"echoerr"};
  p.SetOptions({poUsePipes});
  p.Execute();
  ASSERT_NE(p.InputPipe(), nullptr);
  ASSERT_NE(p.OutputPipe(), nullptr);
  ASSERT_NE(p.ErrorPipe(), nullptr);
  EXPECT_NE(p.ErrorPipe(), p.OutputPipe());
  const std::string text = "ping through the pipe";
  p.InputPipe()->WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  p.CloseInputPipe();
  EXPECT_EQ(p.InputPipe(), nullptr);
  EXPECT_EQ(ReadAll(*p.OutputPipe()), text);
  EXPECT_EQ(ReadAll(*p.ErrorPipe()), "[err]");
  EXPECT_TRUE(p.WaitForExit());
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(p.OutputPipe()->Seek(0, soBeginning), -1);
  p.CloseErrorPipe();
  p.CloseOutputPipe();
  EXPECT_EQ(p.ErrorPipe(), nullptr);
  EXPECT_EQ(p.OutputPipe(), nullptr);
}

TEST_F(ProcessTest, StderrIntoTheOutputPipe) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"echoerr"};
  p.SetOptions({poUsePipes, poStderrToOutPut});
  p.Execute();
  ASSERT_NE(p.OutputPipe(), nullptr);
  EXPECT_EQ(p.ErrorPipe(), p.OutputPipe());
  p.InputPipe()->WriteBuffer("abc", 3);
  p.CloseInputPipe();
  EXPECT_EQ(ReadAll(*p.OutputPipe()), "abc[err]");
  EXPECT_TRUE(p.WaitForExit());
  // Closing the error pipe leaves the shared output stream alone.
  p.CloseErrorPipe();
  EXPECT_EQ(p.ErrorPipe(), nullptr);
  ASSERT_NE(p.OutputPipe(), nullptr);
  EXPECT_EQ(p.OutputPipe()->Read(nullptr, 0), 0);
}

TEST_F(ProcessTest, PipesWithoutInheritedHandlesAndSuspendedStart) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"echo"};
  p.InheritHandles = false;
  p.SetOptions({poUsePipes, poStderrToOutPut, poRunSuspended});
  p.Execute();
  ASSERT_NE(p.InputPipe(), nullptr);
  p.InputPipe()->WriteBuffer("early", 5);  // waits in the pipe meanwhile
  EXPECT_EQ(p.Resume(), 1);
  p.CloseInputPipe();
  EXPECT_EQ(ReadAll(*p.OutputPipe()), "early");
  EXPECT_TRUE(p.WaitForExit());
  EXPECT_EQ(p.ExitCode(), 0u);
}

TEST_F(ProcessTest, WriteToAnEndedChildFailsWithoutEndingTheCaller) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"exit", "0"};
  p.SetOptions({poUsePipes, poWaitOnExit});
  p.Execute();
  EXPECT_FALSE(p.Running());
  ASSERT_NE(p.InputPipe(), nullptr);
  EXPECT_EQ(p.InputPipe()->Write("x", 1), 0);
  EXPECT_THROW(p.InputPipe()->WriteBuffer("xy", 2), EWriteError);
  EXPECT_EQ(ReadAll(*p.OutputPipe()), "");
}

TEST_F(ProcessTest, LargeTransferThroughThePipes) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"echo"};
  p.SetOptions({poUsePipes});
  p.PipeBufferSize = 1 << 20;
  p.Execute();
  std::string data;
  for (int i = 0; i < 20000; ++i) data += "line " + std::to_string(i) + "; ";
  // Write and read on two threads: each pipe holds only part of the data.
  std::thread writer([&] {
    p.InputPipe()->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    p.CloseInputPipe();
  });
  std::string back = ReadAll(*p.OutputPipe());
  writer.join();
  EXPECT_EQ(back.size(), data.size());
  EXPECT_TRUE(back == data);
  EXPECT_TRUE(p.WaitForExit());
}

TEST_F(ProcessTest, DestroyingTheObjectLeavesTheChildRunning) {
  const std::string go = PathOf("go"), done = PathOf("done");
  {
    TProcess p;
    p.Executable = kChild;
    p.Parameters = {"waitfile", go, done};
    p.Execute();
    EXPECT_TRUE(p.Running());
  }
  WriteFile(go, "go");
  // The child answers only while it still runs.
  bool seen = false;
  for (int i = 0; i < 3000 && !seen; ++i) {
    seen = fsys::exists(done);
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen);
}

TEST_F(ProcessTest, ASecondExecuteStartsAFreshChild) {
  TProcess p;
  p.Executable = kChild;
  p.Parameters = {"exit", "3"};
  p.SetOptions({poWaitOnExit});
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 3u);
  p.Parameters = {"exit", "4"};
  p.Execute();
  EXPECT_EQ(p.ExitCode(), 4u);
}

}  // namespace
