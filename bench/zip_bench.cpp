// Measures archive extraction and packing against the common zip tools, and
// the peak memory extraction needs.
//
//   zip_bench [--runs N] [--dir FOLDER] [--keep] [--close-delay MS]
//
// Builds, from real files on this machine, a bundle-like archive (about
// 1,000 files in nested folders, made with zip -r) and a dictionary-like
// folder (about 40 text files), then prints medians of N runs each:
// ExtractArchive with one worker and with the pool (WorkerCount()) against
// unzip -q -o and bsdtar -xf; PackFolder with one worker and with the pool
// against zip -q -6 -j; and the peak resident memory extraction adds to the
// process, next to the peak of an unzip process. The work happens in a new
// folder under FOLDER (default: the system temporary folder; /dev/shm is
// tmpfs).
//
// A modelled scanner: with --close-delay MS every close of a file this
// program wrote waits MS milliseconds first, as an antivirus scanner makes
// CloseHandle wait on Windows; the bench then also extracts with one worker
// and with the pool under that delay.
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

extern char** environ;

namespace stdfs = std::filesystem;

// The modelled scanner's delay per close of a written file, in microseconds.
static long CloseDelayMicroseconds = 0;

// Every close in this program, the archive code's included, comes here
// (the program's own definition takes the place of the C library's).
extern "C" int close(int Handle) {
  if (CloseDelayMicroseconds > 0) {
    const int Flags = fcntl(Handle, F_GETFL);
    if (Flags >= 0 && (Flags & O_ACCMODE) != O_RDONLY) usleep(static_cast<useconds_t>(CloseDelayMicroseconds));
  }
  return static_cast<int>(syscall(SYS_close, Handle));
}

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration D) { return std::chrono::duration<double>(D).count(); }

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  size_t N = V.size();
  return N % 2 ? V[N / 2] : (V[N / 2 - 1] + V[N / 2]) / 2;
}

struct TRunResult {
  int ExitCode = -1;
};

// Runs a program with its output discarded; its exit code.
TRunResult Spawn(const std::vector<std::string>& Args) {
  std::vector<char*> Argv;
  for (const auto& A : Args) Argv.push_back(const_cast<char*>(A.c_str()));
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t Pid;
  TRunResult R;
  if (posix_spawnp(&Pid, Argv[0], &Actions, nullptr, Argv.data(), environ) == 0) {
    int Status = 0;
    waitpid(Pid, &Status, 0);
    R.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  }
  posix_spawn_file_actions_destroy(&Actions);
  return R;
}

// The peak resident memory of a tool process alone. A child of this
// program would count this program's own pages from before its exec, so the
// program runs again as a small helper ("--rss-of File Program Args...")
// that starts the tool and writes the tool's peak (kB) into File.
long ToolPeakRssKb(const std::vector<std::string>& Args, const stdfs::path& Scratch) {
  const stdfs::path File = Scratch / "rss.txt";
  std::vector<std::string> Helper{"/proc/self/exe", "--rss-of", File.string()};
  Helper.insert(Helper.end(), Args.begin(), Args.end());
  Spawn(Helper);
  std::ifstream In(File);
  long Kb = -1;
  In >> Kb;
  return Kb;
}

int RssHelper(int Argc, char** Argv) {
  if (Argc < 4) return 2;
  pid_t Pid = fork();
  if (Pid == 0) {
    setenv("GLIBC_TUNABLES", "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=1073741824", 1);
    execvp(Argv[3], Argv + 3);
    _exit(127);
  }
  int Status = 0;
  struct rusage Usage {};
  wait4(Pid, &Status, 0, &Usage);
  std::ofstream(Argv[2]) << Usage.ru_maxrss << "\n";
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 1;
}

bool HaveTool(const std::string& Tool) { return std::system(("command -v " + Tool + " >/dev/null 2>&1").c_str()) == 0; }

void CopyFileBytes(const stdfs::path& From, const stdfs::path& To) {
  std::error_code Ec;
  stdfs::create_directories(To.parent_path(), Ec);
  stdfs::copy_file(From, To, stdfs::copy_options::overwrite_existing, Ec);
}

// Files from the usual places of a Debian system, walked in sorted order and
// thinned out evenly to Count files of TargetBytes in all.
struct TPicked {
  std::vector<std::pair<stdfs::path, stdfs::path>> Files;  // source, relative target
  uintmax_t Bytes = 0;
};

TPicked PickFiles(const std::vector<std::string>& Roots, size_t Count, uintmax_t TargetBytes) {
  std::vector<std::pair<stdfs::path, uintmax_t>> All;
  for (const auto& Root : Roots) {
    std::error_code Ec;
    stdfs::recursive_directory_iterator It(Root, stdfs::directory_options::skip_permission_denied, Ec), End;
    for (; !Ec && It != End; It.increment(Ec)) {
      if (It.depth() > 6) continue;
      std::error_code E2;
      if (!It->is_regular_file(E2) || It->is_symlink(E2)) continue;
      uintmax_t Size = It->file_size(E2);
      if (E2 || Size < 256 || Size > 1500000) continue;
      if (::access(It->path().c_str(), R_OK) != 0) continue;
      All.emplace_back(It->path(), Size);
    }
  }
  std::sort(All.begin(), All.end());
  TPicked Picked;
  if (All.empty()) return Picked;
  // Average size wanted, and a stride that spreads the choice over all.
  double Stride = std::max(1.0, static_cast<double>(All.size()) / static_cast<double>(Count));
  uintmax_t Mean = TargetBytes / Count;
  for (double Pos = 0; Picked.Files.size() < Count && Pos < All.size(); Pos += Stride) {
    // Among a few neighbours take the one closest to the average size.
    size_t Best = static_cast<size_t>(Pos);
    for (size_t K = Best; K < std::min(All.size(), static_cast<size_t>(Pos + Stride)); ++K) {
      auto D = [&](size_t I) { return All[I].second > Mean ? All[I].second - Mean : Mean - All[I].second; };
      if (D(K) < D(Best)) Best = K;
    }
    stdfs::path Rel = All[Best].first.relative_path();
    Picked.Files.emplace_back(All[Best].first, Rel);
    Picked.Bytes += All[Best].second;
  }
  return Picked;
}

long ReadStatusKb(const char* Key) {
  std::ifstream F("/proc/self/status");
  std::string Line;
  size_t N = std::strlen(Key);
  while (std::getline(F, Line))
    if (Line.compare(0, N, Key) == 0) return std::atol(Line.c_str() + N + 1);
  return -1;
}

// The peak resident memory of extraction, measured in a fresh process: this
// program started again as "--extract-peak File Archive Folder", which notes
// its resident size, extracts and writes "added whole" (kB) into File.
//
// The kernel only takes note of a process's peak at some moments (when it is
// read, at exit), so memory freed again in between would go unseen. The
// helper therefore makes malloc keep everything it frees (no trimming, no
// separate mappings below 32 MB): its resident size can then only grow, and
// the size at the end is the peak. The tools get the same malloc settings.
struct TPeak {
  long AddedKb = -1;
  long WholeKb = -1;
};

TPeak ExtractionPeak(const stdfs::path& Archive, const stdfs::path& Folder, const stdfs::path& Scratch) {
  const stdfs::path File = Scratch / "peak.txt";
  stdfs::remove(File);
  Spawn({"/proc/self/exe", "--extract-peak", File.string(), Archive.string(), Folder.string() + "/"});
  std::ifstream In(File);
  TPeak P;
  In >> P.AddedKb >> P.WholeKb;
  return P;
}

int ExtractPeakHelper(int Argc, char** Argv) {
  if (Argc < 5) return 2;
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  long Base = ReadStatusKb("VmRSS:");
  try {
    ExtractArchive(Argv[3], Argv[4]);
  } catch (...) {
    return 1;
  }
  long Peak = std::max(ReadStatusKb("VmHWM:"), ReadStatusKb("VmRSS:"));
  std::ofstream(Argv[2]) << Peak - Base << " " << Peak << "\n";
  return 0;
}

std::map<std::string, uintmax_t> TreeSummary(const stdfs::path& Root) {
  std::map<std::string, uintmax_t> M;
  for (const auto& E : stdfs::recursive_directory_iterator(Root))
    if (E.is_regular_file()) M[stdfs::relative(E.path(), Root).string()] = E.file_size();
  return M;
}

void Fresh(const stdfs::path& Folder) {
  stdfs::remove_all(Folder);
  stdfs::create_directories(Folder);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && !std::strcmp(argv[1], "--rss-of")) return RssHelper(argc, argv);
  if (argc > 1 && !std::strcmp(argv[1], "--extract-peak")) return ExtractPeakHelper(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int Runs = 7;
  bool Keep = false;
  double CloseDelay = 0;
  const int Pool = WorkerCount();
  stdfs::path Base = stdfs::temp_directory_path();
  for (int I = 1; I < argc; ++I) {
    if (!std::strcmp(argv[I], "--runs") && I + 1 < argc)
      Runs = std::max(1, std::atoi(argv[++I]));
    else if (!std::strcmp(argv[I], "--keep"))
      Keep = true;
    else if (!std::strcmp(argv[I], "--dir") && I + 1 < argc)
      Base = argv[++I];
    else if (!std::strcmp(argv[I], "--close-delay") && I + 1 < argc)
      CloseDelay = std::atof(argv[++I]);
    else {
      std::fprintf(stderr, "usage: %s [--runs N] [--dir FOLDER] [--keep] [--close-delay MS]\n", argv[0]);
      return 2;
    }
  }
  for (const char* Tool : {"zip", "unzip", "bsdtar"})
    if (!HaveTool(Tool)) {
      std::fprintf(stderr, "%s is not installed\n", Tool);
      return 1;
    }

  const stdfs::path Work = Base / ("qb_zip_bench_" + std::to_string(getpid()));
  Fresh(Work);
  const stdfs::path BundleSrc = Work / "bundle_src", Dict = Work / "dict";

  // The bundle-like tree and its archive.
  // Headers, scripts and shared libraries, like a runtime with its library.
  TPicked Bundle =
      PickFiles({"/usr/include", "/usr/share/perl5", "/usr/lib/python3", "/usr/lib/x86_64-linux-gnu"}, 1000, 19u << 20);
  for (const auto& [From, Rel] : Bundle.Files) CopyFileBytes(From, BundleSrc / Rel);
  const stdfs::path BundleZip = Work / "bundle.zip";
  if (std::system(("cd '" + BundleSrc.string() + "' && zip -q -r '" + BundleZip.string() + "' .").c_str()) != 0) {
    std::fprintf(stderr, "zip -r failed\n");
    return 1;
  }

  // The dictionary-like folder: 40 text files of about 50 kB, cut from real
  // text (headers and documentation).
  {
    TPicked Text = PickFiles({"/usr/include"}, 400, 6u << 20);
    Fresh(Dict);
    std::string Pool;
    for (const auto& F : Text.Files) {
      std::ifstream In(F.first, std::ios::binary);
      Pool.append(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
      if (Pool.size() > (2u << 20) + 100000) break;
    }
    size_t Each = std::min<size_t>(Pool.size() / 40, 52000);
    for (int I = 0; I < 40; ++I) {
      char Name[32];
      std::snprintf(Name, sizeof Name, "dic_%02d.txt", I);
      std::ofstream Out(Dict / Name, std::ios::binary);
      Out.write(Pool.data() + static_cast<size_t>(I) * Each, static_cast<std::streamsize>(Each));
    }
  }
  uintmax_t DictBytes = 0;
  for (const auto& E : stdfs::directory_iterator(Dict)) DictBytes += E.file_size();

  // A single large entry, to show that extraction memory does not grow with
  // the entry.
  const stdfs::path BigSrc = Work / "big_src", BigZip = Work / "big.zip";
  {
    stdfs::create_directories(BigSrc);
    std::ofstream Out(BigSrc / "big.bin", std::ios::binary);
    std::vector<char> Block;
    for (const auto& [From, Rel] : Bundle.Files) {
      std::ifstream In(From, std::ios::binary);
      Block.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
      Out.write(Block.data(), static_cast<std::streamsize>(Block.size()));
    }
  }
  Spawn({"zip", "-q", "-j", BigZip.string(), (BigSrc / "big.bin").string()});

  std::printf("bundle archive: %zu files, %.1f MB input, %.1f MB compressed\n", Bundle.Files.size(),
              Bundle.Bytes / 1048576.0, stdfs::file_size(BundleZip) / 1048576.0);
  std::printf("dictionary folder: 40 files, %.2f MB\n", DictBytes / 1048576.0);
  std::printf("large-entry archive: 1 file, %.1f MB input, %.1f MB compressed\n",
              stdfs::file_size(BigSrc / "big.bin") / 1048576.0, stdfs::file_size(BigZip) / 1048576.0);
  std::printf("work folder: %s\n", Work.string().c_str());
  std::printf("runs per measurement: %d (medians)\n\n", Runs);

  // Extraction, the four contenders taking turns in every round.
  const stdfs::path Out = Work / "out";
  const std::string OutSlash = Out.string() + "/";
  std::vector<double> TOurs1, TOurs, TUnzip, TBsdtar;
  for (int R = 0; R < Runs; ++R) {
    for (int K = 0; K < 4; ++K) {
      int Which = (R + K) % 4;
      Fresh(Out);
      auto T0 = Clock::now();
      int Rc = 0;
      if (Which == 0)
        ExtractArchive(BundleZip.string(), OutSlash, Pool);
      else if (Which == 1)
        Rc = Spawn({"unzip", "-q", "-o", BundleZip.string(), "-d", Out.string()}).ExitCode;
      else if (Which == 2)
        Rc = Spawn({"bsdtar", "-xf", BundleZip.string(), "-C", Out.string()}).ExitCode;
      else
        ExtractArchive(BundleZip.string(), OutSlash, 1);
      double T = Seconds(Clock::now() - T0);
      if (Rc != 0) std::fprintf(stderr, "extraction tool %d failed: %d\n", Which, Rc);
      (Which == 0 ? TOurs : Which == 1 ? TUnzip : Which == 2 ? TBsdtar : TOurs1).push_back(T);
    }
  }
  // The modelled scanner: every written file's close waits.
  std::vector<double> DOurs1, DOurs;
  if (CloseDelay > 0) {
    CloseDelayMicroseconds = static_cast<long>(CloseDelay * 1000);
    for (int R = 0; R < Runs; ++R) {
      for (int K = 0; K < 2; ++K) {
        const int Workers = (R + K) % 2 == 0 ? Pool : 1;
        Fresh(Out);
        auto T0 = Clock::now();
        ExtractArchive(BundleZip.string(), OutSlash, Workers);
        (Workers == 1 ? DOurs1 : DOurs).push_back(Seconds(Clock::now() - T0));
      }
    }
    CloseDelayMicroseconds = 0;
  }
  // The same files come out as unzip makes them.
  Fresh(Out);
  ExtractArchive(BundleZip.string(), OutSlash);
  auto OursTree = TreeSummary(Out);
  Fresh(Out);
  Spawn({"unzip", "-q", "-o", BundleZip.string(), "-d", Out.string()});
  bool Same = OursTree == TreeSummary(Out);

  // Packing the dictionary.
  std::vector<std::string> DictFiles;
  for (const auto& E : stdfs::directory_iterator(Dict)) DictFiles.push_back(E.path().string());
  std::sort(DictFiles.begin(), DictFiles.end());
  const stdfs::path OursZip = Work / "ours.zip", Ours1Zip = Work / "ours1.zip", ZipZip = Work / "zip.zip";
  std::vector<double> POurs1, POurs, PZip;
  for (int R = 0; R < Runs; ++R) {
    for (int K = 0; K < 3; ++K) {
      int Which = (R + K) % 3;
      stdfs::remove(Which == 0 ? OursZip : Which == 1 ? ZipZip : Ours1Zip);
      auto T0 = Clock::now();
      if (Which == 0) {
        PackFolder(Dict.string() + "/", OursZip.string(), Pool);
      } else if (Which == 2) {
        PackFolder(Dict.string() + "/", Ours1Zip.string(), 1);
      } else {
        std::vector<std::string> Args{"zip", "-q", "-6", "-j", ZipZip.string()};
        Args.insert(Args.end(), DictFiles.begin(), DictFiles.end());
        Spawn(Args);
      }
      (Which == 0 ? POurs : Which == 1 ? PZip : POurs1).push_back(Seconds(Clock::now() - T0));
    }
  }
  uintmax_t OursPacked = stdfs::file_size(OursZip), ZipPacked = stdfs::file_size(ZipZip);
  auto Bytes = [](const stdfs::path& P) {
    std::ifstream In(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  };
  const bool SameArchive = Bytes(OursZip) == Bytes(Ours1Zip);

  // Peak memory.
  std::vector<double> MOurs, MOursBig, MOursWhole;
  for (int R = 0; R < std::min(Runs, 3); ++R) {
    Fresh(Out);
    TPeak P = ExtractionPeak(BundleZip, Out, Work);
    MOurs.push_back(static_cast<double>(P.AddedKb));
    MOursWhole.push_back(static_cast<double>(P.WholeKb));
    Fresh(Out);
    MOursBig.push_back(static_cast<double>(ExtractionPeak(BigZip, Out, Work).AddedKb));
  }
  Fresh(Out);
  long UnzipRss = ToolPeakRssKb({"unzip", "-q", "-o", BundleZip.string(), "-d", Out.string()}, Work);
  Fresh(Out);
  long BsdtarRss = ToolPeakRssKb({"bsdtar", "-xf", BundleZip.string(), "-C", Out.string()}, Work);

  double Eo = Median(TOurs), Eo1 = Median(TOurs1), Eu = Median(TUnzip), Eb = Median(TBsdtar);
  double Po = Median(POurs), Po1 = Median(POurs1), Pz = Median(PZip);
  std::printf("extraction of the bundle archive (wall time, median; pool = %d workers)\n", Pool);
  std::printf("  ExtractArchive, 1 worker  %8.1f ms\n", Eo1 * 1000);
  std::printf("  ExtractArchive, pool      %8.1f ms\n", Eo * 1000);
  std::printf("  unzip -q -o               %8.1f ms\n", Eu * 1000);
  std::printf("  bsdtar -xf                %8.1f ms\n", Eb * 1000);
  std::printf("  ratio 1 worker/unzip      %8.2f x\n", Eo1 / Eu);
  std::printf("  ratio pool/unzip          %8.2f x  (target <= 0.35)\n", Eo / Eu);
  std::printf("  ratio pool/bsdtar         %8.2f x\n", Eo / Eb);
  std::printf("  same files as unzip: %s\n\n", Same ? "yes" : "NO");
  if (CloseDelay > 0) {
    const double D1 = Median(DOurs1), Dn = Median(DOurs);
    std::printf("extraction with a modelled scanner: %.1f ms added to every close of a written file\n", CloseDelay);
    std::printf("  ExtractArchive, 1 worker  %8.1f ms\n", D1 * 1000);
    std::printf("  ExtractArchive, pool      %8.1f ms\n", Dn * 1000);
    std::printf("  pool faster by            %8.2f x  (target >= 1.8)\n\n", D1 / Dn);
  }
  std::printf("packing the dictionary folder (wall time, median)\n");
  std::printf("  PackFolder, 1 worker      %8.1f ms\n", Po1 * 1000);
  std::printf("  PackFolder, pool          %8.1f ms  (%.0f kB)\n", Po * 1000, OursPacked / 1024.0);
  std::printf("  zip -q -6 -j              %8.1f ms  (%.0f kB)\n", Pz * 1000, ZipPacked / 1024.0);
  std::printf("  ratio 1 worker/zip        %8.2f x\n", Po1 / Pz);
  std::printf("  ratio pool/zip            %8.2f x  (target <= 0.50)\n", Po / Pz);
  std::printf("  same archive bytes with 1 worker and the pool: %s\n\n", SameArchive ? "yes" : "NO");
  std::printf("peak resident memory of extraction above the process baseline\n");
  std::printf("  ExtractArchive, bundle       %8.0f kB  (target <= 8192)\n", Median(MOurs));
  std::printf("  ExtractArchive, large entry  %8.0f kB\n", Median(MOursBig));
  std::printf("  ExtractArchive process peak  %8.0f kB  (whole, bundle)\n", Median(MOursWhole));
  std::printf("  unzip process peak (whole)   %8ld kB\n", UnzipRss);
  std::printf("  bsdtar process peak (whole)  %8ld kB\n", BsdtarRss);

  if (!Keep)
    stdfs::remove_all(Work);
  else
    std::printf("\nkept %s\n", Work.string().c_str());
  return Same && SameArchive ? 0 : 1;
}
