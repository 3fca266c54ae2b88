// Launcher benchmark (native): a first run of a launcher that embeds a
// bundle of about 5 MB and 1,000 files, whose application exits at once,
// against the same work done by standard tools: `unzip -q` of the bundle and
// of its dictionary archive plus `cp` of the data files. Both are measured
// side by side, alternating, and the medians compared; the launcher's fixed
// one-second pause before its clean-up is taken off its wall time. Also the
// launcher's peak resident memory (wait4's ru_maxrss) against the bundle's
// size plus 8 MB.
//
//   launcher_bench [RUNS](default 7)
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct TRun {
  double Seconds = 0;
  long MaxRssKiB = 0;
  int ExitCode = -1;
};

TRun Spawn(const std::vector<std::string>& Words, const std::string& Folder,
           const std::vector<std::string>& ExtraEnvironment) {
  std::vector<std::string> Entries;
  for (char** Entry = environ; *Entry != nullptr; ++Entry) {
    std::string Text = *Entry;
    if (Text.rfind("TEMP=", 0) == 0 || Text.rfind("TMP=", 0) == 0) continue;
    Entries.push_back(Text);
  }
  Entries.insert(Entries.end(), ExtraEnvironment.begin(), ExtraEnvironment.end());
  std::vector<char*> Envp, Argv;
  for (std::string& Entry : Entries) Envp.push_back(&Entry[0]);
  Envp.push_back(nullptr);
  std::vector<std::string> Copy = Words;
  for (std::string& Word : Copy) Argv.push_back(&Word[0]);
  Argv.push_back(nullptr);

  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addchdir_np(&Actions, Folder.c_str());
  TRun Run;
  auto Start = std::chrono::steady_clock::now();
  pid_t Pid = 0;
  if (posix_spawnp(&Pid, Argv[0], &Actions, nullptr, Argv.data(), Envp.data()) != 0) {
    posix_spawn_file_actions_destroy(&Actions);
    return Run;
  }
  int Status = 0;
  struct rusage Usage;
  wait4(Pid, &Status, 0, &Usage);
  Run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  posix_spawn_file_actions_destroy(&Actions);
  Run.MaxRssKiB = Usage.ru_maxrss;
  Run.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  return Run;
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  size_t N = Values.size();
  return N % 2 ? Values[N / 2] : (Values[N / 2 - 1] + Values[N / 2]) / 2;
}

int System(const std::string& Command) { return std::system(Command.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
  const std::string Launcher = QB_BENCH_LAUNCHER;
  const std::string Bundle = QB_BENCH_BUNDLE;
  struct stat Info;
  if (stat(Bundle.c_str(), &Info) != 0 || stat(Launcher.c_str(), &Info) != 0) {
    std::fprintf(stderr, "missing %s or %s\n", Launcher.c_str(), Bundle.c_str());
    return 1;
  }
  stat(Bundle.c_str(), &Info);
  const long BundleBytes = static_cast<long>(Info.st_size);

  char Pattern[] = "/tmp/qb-launcher-bench-XXXXXX";
  if (mkdtemp(Pattern) == nullptr) return 1;
  const std::string Root = Pattern;
  const std::string User = Root + "/user", Temp = Root + "/temp", Tools = Root + "/tools";
  System("mkdir -p '" + User + "' '" + Temp + "' '" + Tools + "'");
  System("printf 'maison;house\\neau;water\\n' > '" + User + "/trad_dyn.csv'");

  // What the launcher does on a first run, with standard tools.
  const std::string Work = Tools + "/quintabel5";
  const std::string Baseline = "mkdir -p '" + Work + "' && unzip -q -o '" + Bundle + "' -d '" + Work + "' && cp '" +
                               Work + "/swipl.home' '" + Tools + "/' && unzip -q -o '" + Work + "/dereroz.zip' -d '" +
                               Work + "/dereroz' && cp '" + User + "/trad_dyn.csv' '" + Work + "/'";

  std::vector<double> LauncherTimes, ToolTimes;
  long PeakKiB = 0;
  for (int I = 0; I < Runs; ++I) {
    TRun Tool = Spawn({"sh", "-c", Baseline}, User, {});
    if (Tool.ExitCode != 0) {
      std::fprintf(stderr, "baseline failed (%d)\n", Tool.ExitCode);
      return 1;
    }
    ToolTimes.push_back(Tool.Seconds);
    System("rm -rf '" + Work + "' '" + Tools + "/swipl.home'");

    TRun Run = Spawn({Launcher}, User, {"TEMP=" + Temp, "TMP=" + Temp});
    if (Run.ExitCode != 0) {
      std::fprintf(stderr, "launcher failed (%d)\n", Run.ExitCode);
      return 1;
    }
    LauncherTimes.push_back(Run.Seconds - 1.0);
    PeakKiB = std::max(PeakKiB, Run.MaxRssKiB);
  }
  System("rm -rf '" + Root + "'");

  const double LauncherMedian = Median(LauncherTimes), ToolMedian = Median(ToolTimes);
  const double Limit = (BundleBytes + 8.0 * 1024 * 1024) / 1024.0;
  std::printf("bundle: %ld bytes, %d runs each\n", BundleBytes, Runs);
  std::printf("launcher first run (wall - 1 s pause): median %.3f s\n", LauncherMedian);
  std::printf("unzip -q bundle + dictionary, cp data: median %.3f s\n", ToolMedian);
  std::printf("time ratio launcher / tools: %.2f x (target <= 1.20 x)\n", LauncherMedian / ToolMedian);
  std::printf("launcher peak RSS: %ld KiB; bundle + 8 MiB = %.0f KiB; ratio %.2f (target <= 1.00)\n", PeakKiB, Limit,
              PeakKiB / Limit);
  return 0;
}
