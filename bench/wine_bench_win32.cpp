// The launcher's own work under Wine against a plain Win32 + zlib tool
// (plain_tool_win32.cpp) doing the same, timed inside Wine with
// QueryPerformanceCounter. Built with -DQB_BENCHMARKS=ON in the Windows
// build; run by hand, not by ctest, through bench/wine_bench.sh, which puts
// the folders on tmpfs and holds /dev/cpu_dma_latency at 0 while it runs:
//
//   bash bench/wine_bench.sh build-win [RUNS]
//
// or directly, with Windows paths (ROOT on tmpfs, made afresh):
//
//   cmake/wine-run build-win/wineprefix build-win/bench/wine_bench.exe
//       LAUNCHER PLAIN_TOOL APP APP_WITH_LAUNCHER_IMPORTS BUNDLE DICTIONARY ROOT [RUNS]
//
// LAUNCHER embeds BUNDLE (about 5 MB, 1,000 files), whose application notes
// when it starts and ends (stamp_app_win32.cpp); the user folder holds a
// dereroz.zip of three files (DICTIONARY) and a trad_dyn.csv. Each round,
// after one that is not counted, runs in alternating order:
//   - the launcher, right after APP (the bundle's application) started
//     alone, the same program loading the launcher's system libraries
//     started alone, and Sleep(1000): Wine's own cost of starting a program
//     (until its first stamp) and of ending one (from its last stamp until
//     the wait returns), for each kind, and the real length of the pause,
//     each taken off this round's launcher figures. Before = from its start to the application's first
//     stamp, less the two program starts (the launcher's and the
//     application's): writing the bundle, extracting it, placing the
//     marker, copying the user's files in, extracting the dictionary.
//     After = from the application's last stamp to the launcher's end, less
//     the two program ends and the measured length of Sleep(1000), the
//     launcher's fixed pause before its clean-up: packing the dictionary,
//     delivering it, deleting the work tree;
//   - "plain_tool install" (the same extraction and the two copies of the
//     user's files) and "plain_tool delete" of the tree it made, each timed
//     by the tool itself.
// It prints the medians and the ratios launcher / plain tool. The machine
// should be otherwise idle: other work on the cores shows in every figure.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_win32.h"

namespace {

double Frequency = 1;

double Milliseconds(LONGLONG Ticks) { return 1000.0 * static_cast<double>(Ticks) / Frequency; }

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  const size_t N = Values.size();
  return N % 2 ? Values[N / 2] : (Values[N / 2 - 1] + Values[N / 2]) / 2;
}

std::wstring Quoted(const std::wstring& Text) { return L"\"" + Text + L"\""; }

bool Exists(const std::wstring& Path) { return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct TRun {
  DWORD ExitCode = 1;
  LONGLONG Started = 0;  // just before CreateProcessW
  LONGLONG Ended = 0;    // when the wait returned
};

// Runs CommandLine in Folder and waits for it.
TRun RunProgram(const std::wstring& CommandLine, const std::wstring& Folder) {
  std::vector<wchar_t> Buffer(CommandLine.begin(), CommandLine.end());
  Buffer.push_back(L'\0');
  STARTUPINFOW Startup = {};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Process;
  TRun Result;
  Result.Started = BenchNow();
  if (!CreateProcessW(nullptr, Buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, Folder.c_str(), &Startup,
                      &Process)) {
    std::fprintf(stderr, "cannot start %ls (error %lu)\n", CommandLine.c_str(), GetLastError());
    return Result;
  }
  WaitForSingleObject(Process.hProcess, INFINITE);
  Result.Ended = BenchNow();
  GetExitCodeProcess(Process.hProcess, &Result.ExitCode);
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  return Result;
}

// Wine's cost of starting a program (until its first stamp) and of ending
// it (from its last stamp until the wait returns).
struct TCosts {
  double Start = 0;
  double End = 0;
};

struct TSamples {
  std::vector<double> AppStart, AppEnd, LauncherStart, LauncherEnd, Pause;  // Wine's costs
  std::vector<double> RawBefore, RawAfter;                                  // the launcher's, starts and ends included
  std::vector<double> Before, After;                                        // the launcher's own work
  std::vector<double> StrictBefore;  // less two starts of the application instead
  std::vector<double> PlainInstall, PlainDelete;
};

class TBench {
 public:
  TBench(const std::vector<std::wstring>& Words)
      : FLauncher(Words[0]),
        FTool(Words[1]),
        FApp(Words[2]),
        FAppWithImports(Words[3]),
        FBundle(Words[4]),
        FDictionary(Words[5]),
        FUser(Words[6] + L"\\user"),
        FTemp(Words[6] + L"\\temp"),
        FPlainWork(Words[6] + L"\\plain\\quintabel5") {
    CreateDirectoryW(Words[6].c_str(), nullptr);
    for (const std::wstring& Folder : {FUser, FTemp, Words[6] + L"\\plain"}) CreateDirectoryW(Folder.c_str(), nullptr);
    SetEnvironmentVariableW(L"TEMP", FTemp.c_str());
    SetEnvironmentVariableW(L"TMP", FTemp.c_str());
    HANDLE Mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TBenchStamps), BenchStampsName);
    FStamps = static_cast<TBenchStamps*>(MapViewOfFile(Mapping, FILE_MAP_WRITE, 0, 0, sizeof(TBenchStamps)));
  }

  bool Ready() const { return FStamps != nullptr; }

  // One round; false when a program failed.
  bool Round(bool LauncherFirst, TSamples& Samples) {
    for (int Turn = 0; Turn < 2; ++Turn)
      if (!((Turn == 0) == LauncherFirst ? LauncherRound(Samples) : PlainRound(Samples))) return false;
    return true;
  }

 private:
  static bool Report(const std::wstring& What) {
    std::fprintf(stderr, "%ls\n", What.c_str());
    return false;
  }

  // Starts App alone: how long Wine takes to start it and to end it.
  bool Trivial(const std::wstring& App, TCosts& Costs) {
    *FStamps = {};
    const TRun Program = RunProgram(Quoted(App), FUser);
    if (Program.ExitCode != 0 || FStamps->AppStart == 0) return false;
    Costs.Start = Milliseconds(FStamps->AppStart - Program.Started);
    Costs.End = Milliseconds(Program.Ended - FStamps->AppEnd);
    return true;
  }

  // The user's files as every run finds them.
  bool PrepareUser() {
    if (!CopyFileW(FDictionary.c_str(), (FUser + L"\\dereroz.zip").c_str(), FALSE)) return false;
    HANDLE File = CreateFileW((FUser + L"\\trad_dyn.csv").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) return false;
    const char Text[] = "maison;house\r\neau;water\r\n";
    DWORD Written = 0;
    WriteFile(File, Text, sizeof Text - 1, &Written, nullptr);
    CloseHandle(File);
    return Written == sizeof Text - 1;
  }

  // The launcher, with Wine's costs measured just before it, so that each
  // round's figures are taken off under the same load.
  bool LauncherRound(TSamples& Samples) {
    TCosts App, Launcher;
    if (!Trivial(FApp, App) || !Trivial(FAppWithImports, Launcher)) return Report(L"the bench application failed");
    const LONGLONG PauseStart = BenchNow();
    Sleep(1000);
    const double Pause = Milliseconds(BenchNow() - PauseStart);
    if (!PrepareUser()) return Report(L"cannot prepare the user folder");
    *FStamps = {};
    const TRun Run = RunProgram(Quoted(FLauncher), FUser);
    if (Run.ExitCode != 0 || FStamps->AppStart == 0)
      return Report(L"the launcher failed (exit code " + std::to_wstring(Run.ExitCode) + L")");
    if (Exists(FTemp + L"\\quintabel5") || Exists(FTemp + L"\\swipl.home"))
      return Report(L"the launcher left its work folder or marker");
    const double RawBefore = Milliseconds(FStamps->AppStart - Run.Started);
    const double RawAfter = Milliseconds(Run.Ended - FStamps->AppEnd);
    Samples.AppStart.push_back(App.Start);
    Samples.AppEnd.push_back(App.End);
    Samples.LauncherStart.push_back(Launcher.Start);
    Samples.LauncherEnd.push_back(Launcher.End);
    Samples.Pause.push_back(Pause);
    Samples.RawBefore.push_back(RawBefore);
    Samples.RawAfter.push_back(RawAfter);
    Samples.Before.push_back(RawBefore - Launcher.Start - App.Start);
    Samples.StrictBefore.push_back(RawBefore - 2 * App.Start);
    Samples.After.push_back(RawAfter - App.End - Launcher.End - Pause);
    return true;
  }

  bool PlainRound(TSamples& Samples) {
    if (!PrepareUser()) return Report(L"cannot prepare the user folder");
    *FStamps = {};
    const TRun Install = RunProgram(
        Quoted(FTool) + L" install " + Quoted(FBundle) + L" " + Quoted(FPlainWork) + L" " + Quoted(FUser), FUser);
    if (Install.ExitCode != 0) return Report(L"plain_tool install failed");
    Samples.PlainInstall.push_back(Milliseconds(FStamps->ToolTicks));
    *FStamps = {};
    const TRun Delete = RunProgram(Quoted(FTool) + L" delete " + Quoted(FPlainWork), FUser);
    if (Delete.ExitCode != 0 || Exists(FPlainWork)) return Report(L"plain_tool delete failed");
    Samples.PlainDelete.push_back(Milliseconds(FStamps->ToolTicks));
    return true;
  }

  std::wstring FLauncher, FTool, FApp, FAppWithImports, FBundle, FDictionary, FUser, FTemp, FPlainWork;
  TBenchStamps* FStamps = nullptr;
};

}  // namespace

int main() {
  const std::vector<std::wstring> Arguments = CommandWords();
  if (Arguments.size() < 7) {
    std::fprintf(stderr,
                 "usage: wine_bench LAUNCHER PLAIN_TOOL APP APP_WITH_LAUNCHER_IMPORTS BUNDLE DICTIONARY ROOT [RUNS]\n");
    return 2;
  }
  const std::vector<std::wstring> Words(Arguments.begin(), Arguments.begin() + 7);
  const int Runs = Arguments.size() > 7 ? std::max(1, _wtoi(Arguments[7].c_str())) : 9;
  LARGE_INTEGER Ticks;
  QueryPerformanceFrequency(&Ticks);
  Frequency = static_cast<double>(Ticks.QuadPart);
  TBench Bench(Words);
  if (!Bench.Ready()) {
    std::fprintf(stderr, "cannot make the stamps block\n");
    return 1;
  }
  TSamples Warm, Samples;
  if (!Bench.Round(true, Warm)) return 1;
  for (int I = 0; I < Runs; ++I)
    if (!Bench.Round(I % 2 == 0, Samples)) return 1;

  const double Before = Median(Samples.Before), After = Median(Samples.After);
  const double Install = Median(Samples.PlainInstall), Delete = Median(Samples.PlainDelete);
  std::printf("%d rounds after one not counted; medians in ms\n", Runs);
  std::printf(
      "Wine: the application starts in %.2f and ends in %.2f; a program with the launcher's libraries starts "
      "in %.2f and ends in %.2f; Sleep(1000) lasts %.2f\n",
      Median(Samples.AppStart), Median(Samples.AppEnd), Median(Samples.LauncherStart), Median(Samples.LauncherEnd),
      Median(Samples.Pause));
  std::printf("before the application: launcher %.2f (from %.2f, less the two starts), plain tool %.2f: %.2f x\n",
              Before, Median(Samples.RawBefore), Install, Before / Install);
  std::printf(
      "  taking off two starts of the application only (the launcher's libraries count as its work): "
      "%.2f: %.2f x\n",
      Median(Samples.StrictBefore), Median(Samples.StrictBefore) / Install);
  std::printf(
      "after the application: launcher %.2f (from %.2f, less the two ends and the pause), plain deleter %.2f: "
      "%.2f x\n",
      After, Median(Samples.RawAfter), Delete, After / Delete);
  return 0;
}
