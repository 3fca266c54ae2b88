// Launcher benchmark (native): a first run of a launcher that embeds a
// bundle of about 5 MB and 1,000 files, whose application notes when it
// started and exits at once, against the same work done by standard tools,
// side by side, alternating, medians compared:
//   - until the application starts: the launcher's start to the
//     application's, against `unzip -q` of the bundle, copies of the marker
//     and of the user's dictionary archive and data file, and `unzip -q` of
//     the dictionary;
//   - the whole first run less the launcher's fixed one-second pause before
//     its clean-up, against the same tools followed by `zip -q -6 -r` of the
//     dictionary back over the user's archive and `rm -rf` of the work
//     folder.
// The user's dictionary is about 2 MB of text in 40 files. Also the
// launcher's peak resident memory (wait4's ru_maxrss) against the bundle's
// size plus 8 MB. FOLDER is where the runs happen (default /tmp; /dev/shm
// is tmpfs).
//
//   launcher_bench [RUNS](default 7) [FOLDER]
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

// The steady-clock moment (seconds) the application noted in Stamp.
double StampSeconds(const std::string& Stamp) {
  std::FILE* In = std::fopen(Stamp.c_str(), "r");
  long long Nanoseconds = 0;
  if (In == nullptr) return -1;
  const int Read = std::fscanf(In, "%lld", &Nanoseconds);
  std::fclose(In);
  return Read == 1 ? Nanoseconds / 1e9 : -1;
}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
  const std::string Base = argc > 2 ? argv[2] : "/tmp";
  const std::string Launcher = QB_BENCH_LAUNCHER;
  const std::string Bundle = QB_BENCH_BUNDLE;
  struct stat Info;
  if (stat(Bundle.c_str(), &Info) != 0 || stat(Launcher.c_str(), &Info) != 0) {
    std::fprintf(stderr, "missing %s or %s\n", Launcher.c_str(), Bundle.c_str());
    return 1;
  }
  stat(Bundle.c_str(), &Info);
  const long BundleBytes = static_cast<long>(Info.st_size);

  std::string Pattern = Base + "/qb-launcher-bench-XXXXXX";
  if (mkdtemp(&Pattern[0]) == nullptr) return 1;
  const std::string Root = Pattern;
  const std::string User = Root + "/user", Temp = Root + "/temp", Tools = Root + "/tools";
  const std::string Stamp = Root + "/stamp", Dictionary = Root + "/dictionary.zip";
  System("mkdir -p '" + User + "' '" + Temp + "' '" + Tools + "' '" + Root + "/dict'");
  System("printf 'maison;house\\neau;water\\n' > '" + User + "/trad_dyn.csv'");
  // The user's dictionary: 40 files of about 50 kB of text.
  System(
      "i=0; for f in $(ls /usr/include/*.h | head -400); do cat \"$f\"; done | head -c 2000000 | split -b 50000 -d -a "
      "2 - '" +
      Root + "/dict/mots_' && cd '" + Root + "/dict' && zip -q -6 -r '" + Dictionary + "' .");

  // What the launcher does on a first run, with standard tools.
  const std::string Work = Tools + "/quintabel5";
  const std::string Install = "mkdir -p '" + Work + "' && unzip -q -o '" + Bundle + "' -d '" + Work + "' && cp '" +
                              Work + "/swipl.home' '" + Tools + "/' && cp '" + User + "/dereroz.zip' '" + Work +
                              "/' && unzip -q -o '" + Work + "/dereroz.zip' -d '" + Work + "/dereroz' && cp '" + User +
                              "/trad_dyn.csv' '" + Work + "/'";
  const std::string Deliver = "cd '" + Work + "/dereroz' && rm -f '" + User + "/dereroz.new' && zip -q -6 -r '" + User +
                              "/dereroz.new' . && mv '" + User + "/dereroz.new' '" + User +
                              "/dereroz.zip' && rm -rf '" + Work + "' '" + Tools + "/swipl.home'";

  std::vector<double> LauncherStart, LauncherWhole, ToolStart, ToolWhole;
  long PeakKiB = 0;
  for (int I = 0; I < Runs; ++I) {
    System("cp '" + Dictionary + "' '" + User + "/dereroz.zip'");
    const double ToolBegin = Now();
    TRun Tool = Spawn({"sh", "-c", Install}, User, {});
    ToolStart.push_back(Now() - ToolBegin);
    TRun Back = Spawn({"sh", "-c", Deliver}, User, {});
    ToolWhole.push_back(Now() - ToolBegin);
    if (Tool.ExitCode != 0 || Back.ExitCode != 0) {
      std::fprintf(stderr, "baseline failed (%d, %d)\n", Tool.ExitCode, Back.ExitCode);
      return 1;
    }

    System("cp '" + Dictionary + "' '" + User + "/dereroz.zip'; rm -f '" + Stamp + "'");
    const double Begin = Now();
    TRun Run = Spawn({Launcher}, User, {"TEMP=" + Temp, "TMP=" + Temp, "QB_BENCH_STAMP=" + Stamp});
    if (Run.ExitCode != 0 || StampSeconds(Stamp) < 0) {
      std::fprintf(stderr, "launcher failed (%d)\n", Run.ExitCode);
      return 1;
    }
    LauncherStart.push_back(StampSeconds(Stamp) - Begin);
    LauncherWhole.push_back(Run.Seconds - 1.0);
    PeakKiB = std::max(PeakKiB, Run.MaxRssKiB);
  }
  System("rm -rf '" + Root + "'");

  const double Ls = Median(LauncherStart), Lw = Median(LauncherWhole), Ts = Median(ToolStart), Tw = Median(ToolWhole);
  const double Limit = (BundleBytes + 8.0 * 1024 * 1024) / 1024.0;
  std::printf("bundle: %ld bytes; runs in %s, %d each (medians)\n", BundleBytes, Base.c_str(), Runs);
  std::printf("until the application starts: launcher %.3f s, tools %.3f s: %.2f x (target <= 0.40 x)\n", Ls, Ts,
              Ls / Ts);
  std::printf("whole first run less the pause: launcher %.3f s, tools %.3f s: %.2f x (target <= 0.50 x)\n", Lw, Tw,
              Lw / Tw);
  std::printf("launcher peak RSS: %ld KiB; bundle + 8 MiB = %.0f KiB; ratio %.2f (target <= 1.00)\n", PeakKiB, Limit,
              PeakKiB / Limit);
  return 0;
}
