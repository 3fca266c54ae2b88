// Measures archive extraction and packing against the common zip tools, and
// the peak memory extraction needs.
//
//   zip_bench [--runs N] [--dir FOLDER] [--keep]
//
// Builds, from real files on this machine, a bundle-like archive (about
// 1,000 files in nested folders, made with zip -r) and a dictionary-like
// folder (about 40 text files), then prints medians of N runs each:
// ExtractArchive against unzip -q -o and bsdtar -xf; PackFolder against
// zip -q -6 -j; and the peak resident memory extraction adds to the
// process, next to the peak of an unzip process. The work happens in a new
// folder under FOLDER (default: the system temporary folder).
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
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

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration D) { return std::chrono::duration<double>(D).count(); }

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  size_t n = V.size();
  return n % 2 ? V[n / 2] : (V[n / 2 - 1] + V[n / 2]) / 2;
}

struct TRunResult {
  int ExitCode = -1;
};

// Runs a program with its output discarded; its exit code.
TRunResult Spawn(const std::vector<std::string>& Args) {
  std::vector<char*> argv;
  for (const auto& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  TRunResult r;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

// The peak resident memory of a tool process alone. A child of this
// program would count this program's own pages from before its exec, so the
// program runs again as a small helper ("--rss-of File Program Args...")
// that starts the tool and writes the tool's peak (kB) into File.
long ToolPeakRssKb(const std::vector<std::string>& Args, const stdfs::path& Scratch) {
  const stdfs::path file = Scratch / "rss.txt";
  std::vector<std::string> helper{"/proc/self/exe", "--rss-of", file.string()};
  helper.insert(helper.end(), Args.begin(), Args.end());
  Spawn(helper);
  std::ifstream in(file);
  long kb = -1;
  in >> kb;
  return kb;
}

int RssHelper(int argc, char** argv) {
  if (argc < 4) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    setenv("GLIBC_TUNABLES", "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=1073741824", 1);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  std::ofstream(argv[2]) << usage.ru_maxrss << "\n";
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

bool HaveTool(const std::string& Tool) {
  return std::system(("command -v " + Tool + " >/dev/null 2>&1").c_str()) == 0;
}

void CopyFileBytes(const stdfs::path& From, const stdfs::path& To) {
  std::error_code ec;
  stdfs::create_directories(To.parent_path(), ec);
  stdfs::copy_file(From, To, stdfs::copy_options::overwrite_existing, ec);
}

// Files from the usual places of a Debian system, walked in sorted order and
// thinned out evenly to Count files of TargetBytes in all.
struct TPicked {
  std::vector<std::pair<stdfs::path, stdfs::path>> Files;  // source, relative target
  uintmax_t Bytes = 0;
};

TPicked PickFiles(const std::vector<std::string>& Roots, size_t Count, uintmax_t TargetBytes) {
  std::vector<std::pair<stdfs::path, uintmax_t>> all;
  for (const auto& root : Roots) {
    std::error_code ec;
    stdfs::recursive_directory_iterator it(root, stdfs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      if (it.depth() > 6) continue;
      std::error_code e2;
      if (!it->is_regular_file(e2) || it->is_symlink(e2)) continue;
      uintmax_t size = it->file_size(e2);
      if (e2 || size < 256 || size > 1500000) continue;
      if (::access(it->path().c_str(), R_OK) != 0) continue;
      all.emplace_back(it->path(), size);
    }
  }
  std::sort(all.begin(), all.end());
  TPicked picked;
  if (all.empty()) return picked;
  // Average size wanted, and a stride that spreads the choice over all.
  double stride = std::max(1.0, static_cast<double>(all.size()) / static_cast<double>(Count));
  uintmax_t average = TargetBytes / Count;
  for (double pos = 0; picked.Files.size() < Count && pos < all.size(); pos += stride) {
    // Among a few neighbours take the one closest to the average size.
    size_t best = static_cast<size_t>(pos);
    for (size_t k = best; k < std::min(all.size(), static_cast<size_t>(pos + stride)); ++k) {
      auto d = [&](size_t i) { return all[i].second > average ? all[i].second - average : average - all[i].second; };
      if (d(k) < d(best)) best = k;
    }
    stdfs::path rel = all[best].first.relative_path();
    picked.Files.emplace_back(all[best].first, rel);
    picked.Bytes += all[best].second;
  }
  return picked;
}

long ReadStatusKb(const char* Key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  size_t n = std::strlen(Key);
  while (std::getline(f, line))
    if (line.compare(0, n, Key) == 0) return std::atol(line.c_str() + n + 1);
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
  const stdfs::path file = Scratch / "peak.txt";
  stdfs::remove(file);
  Spawn({"/proc/self/exe", "--extract-peak", file.string(), Archive.string(), Folder.string() + "/"});
  std::ifstream in(file);
  TPeak p;
  in >> p.AddedKb >> p.WholeKb;
  return p;
}

int ExtractPeakHelper(int argc, char** argv) {
  if (argc < 5) return 2;
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  long base = ReadStatusKb("VmRSS:");
  try {
    ExtractArchive(argv[3], argv[4]);
  } catch (...) {
    return 1;
  }
  long peak = std::max(ReadStatusKb("VmHWM:"), ReadStatusKb("VmRSS:"));
  std::ofstream(argv[2]) << peak - base << " " << peak << "\n";
  return 0;
}

std::map<std::string, uintmax_t> TreeSummary(const stdfs::path& Root) {
  std::map<std::string, uintmax_t> m;
  for (const auto& e : stdfs::recursive_directory_iterator(Root))
    if (e.is_regular_file()) m[stdfs::relative(e.path(), Root).string()] = e.file_size();
  return m;
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
  int runs = 7;
  bool keep = false;
  stdfs::path base = stdfs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--keep")) keep = true;
    else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc) base = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--runs N] [--dir FOLDER] [--keep]\n", argv[0]);
      return 2;
    }
  }
  for (const char* tool : {"zip", "unzip", "bsdtar"})
    if (!HaveTool(tool)) {
      std::fprintf(stderr, "%s is not installed\n", tool);
      return 1;
    }

  const stdfs::path work = base / ("qb_zip_bench_" + std::to_string(getpid()));
  Fresh(work);
  const stdfs::path bundleSrc = work / "bundle_src", dict = work / "dict";

  // The bundle-like tree and its archive.
  // Headers, scripts and shared libraries, like a runtime with its library.
  TPicked bundle = PickFiles({"/usr/include", "/usr/share/perl5", "/usr/lib/python3", "/usr/lib/x86_64-linux-gnu"},
                             1000, 19u << 20);
  for (const auto& [from, rel] : bundle.Files) CopyFileBytes(from, bundleSrc / rel);
  const stdfs::path bundleZip = work / "bundle.zip";
  if (std::system(("cd '" + bundleSrc.string() + "' && zip -q -r '" + bundleZip.string() + "' .").c_str()) != 0) {
    std::fprintf(stderr, "zip -r failed\n");
    return 1;
  }

  // The dictionary-like folder: 40 text files of about 50 kB, cut from real
  // text (headers and documentation).
  {
    TPicked text = PickFiles({"/usr/include"}, 400, 6u << 20);
    Fresh(dict);
    std::string pool;
    for (const auto& f : text.Files) {
      std::ifstream in(f.first, std::ios::binary);
      pool.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (pool.size() > (2u << 20) + 100000) break;
    }
    size_t each = std::min<size_t>(pool.size() / 40, 52000);
    for (int i = 0; i < 40; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "dic_%02d.txt", i);
      std::ofstream out(dict / name, std::ios::binary);
      out.write(pool.data() + static_cast<size_t>(i) * each, static_cast<std::streamsize>(each));
    }
  }
  uintmax_t dictBytes = 0;
  for (const auto& e : stdfs::directory_iterator(dict)) dictBytes += e.file_size();

  // A single large entry, to show that extraction memory does not grow with
  // the entry.
  const stdfs::path bigSrc = work / "big_src", bigZip = work / "big.zip";
  {
    stdfs::create_directories(bigSrc);
    std::ofstream out(bigSrc / "big.bin", std::ios::binary);
    std::vector<char> block;
    for (const auto& [from, rel] : bundle.Files) {
      std::ifstream in(from, std::ios::binary);
      block.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  Spawn({"zip", "-q", "-j", bigZip.string(), (bigSrc / "big.bin").string()});

  std::printf("bundle archive: %zu files, %.1f MB input, %.1f MB compressed\n", bundle.Files.size(),
              bundle.Bytes / 1048576.0, stdfs::file_size(bundleZip) / 1048576.0);
  std::printf("dictionary folder: 40 files, %.2f MB\n", dictBytes / 1048576.0);
  std::printf("large-entry archive: 1 file, %.1f MB input, %.1f MB compressed\n",
              stdfs::file_size(bigSrc / "big.bin") / 1048576.0, stdfs::file_size(bigZip) / 1048576.0);
  std::printf("work folder: %s\n", work.string().c_str());
  std::printf("runs per measurement: %d (medians)\n\n", runs);

  // Extraction, the three tools taking turns in every round.
  const stdfs::path out = work / "out";
  const std::string outSlash = out.string() + "/";
  std::vector<double> tOurs, tUnzip, tBsdtar;
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < 3; ++k) {
      int which = (r + k) % 3;
      Fresh(out);
      auto t0 = Clock::now();
      int rc = 0;
      if (which == 0) ExtractArchive(bundleZip.string(), outSlash);
      else if (which == 1) rc = Spawn({"unzip", "-q", "-o", bundleZip.string(), "-d", out.string()}).ExitCode;
      else rc = Spawn({"bsdtar", "-xf", bundleZip.string(), "-C", out.string()}).ExitCode;
      double t = Seconds(Clock::now() - t0);
      if (rc != 0) std::fprintf(stderr, "extraction tool %d failed: %d\n", which, rc);
      (which == 0 ? tOurs : which == 1 ? tUnzip : tBsdtar).push_back(t);
    }
  }
  // The same files come out as unzip makes them.
  Fresh(out);
  ExtractArchive(bundleZip.string(), outSlash);
  auto oursTree = TreeSummary(out);
  Fresh(out);
  Spawn({"unzip", "-q", "-o", bundleZip.string(), "-d", out.string()});
  bool same = oursTree == TreeSummary(out);

  // Packing the dictionary.
  std::vector<std::string> dictFiles;
  for (const auto& e : stdfs::directory_iterator(dict)) dictFiles.push_back(e.path().string());
  std::sort(dictFiles.begin(), dictFiles.end());
  const stdfs::path oursZip = work / "ours.zip", zipZip = work / "zip.zip";
  std::vector<double> pOurs, pZip;
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < 2; ++k) {
      int which = (r + k) % 2;
      stdfs::remove(which == 0 ? oursZip : zipZip);
      auto t0 = Clock::now();
      if (which == 0) {
        PackFolder(dict.string() + "/", oursZip.string());
      } else {
        std::vector<std::string> args{"zip", "-q", "-6", "-j", zipZip.string()};
        args.insert(args.end(), dictFiles.begin(), dictFiles.end());
        Spawn(args);
      }
      (which == 0 ? pOurs : pZip).push_back(Seconds(Clock::now() - t0));
    }
  }
  uintmax_t oursPacked = stdfs::file_size(oursZip), zipPacked = stdfs::file_size(zipZip);

  // Peak memory.
  std::vector<double> mOurs, mOursBig, mOursWhole;
  for (int r = 0; r < std::min(runs, 3); ++r) {
    Fresh(out);
    TPeak p = ExtractionPeak(bundleZip, out, work);
    mOurs.push_back(static_cast<double>(p.AddedKb));
    mOursWhole.push_back(static_cast<double>(p.WholeKb));
    Fresh(out);
    mOursBig.push_back(static_cast<double>(ExtractionPeak(bigZip, out, work).AddedKb));
  }
  Fresh(out);
  long unzipRss = ToolPeakRssKb({"unzip", "-q", "-o", bundleZip.string(), "-d", out.string()}, work);
  Fresh(out);
  long bsdtarRss = ToolPeakRssKb({"bsdtar", "-xf", bundleZip.string(), "-C", out.string()}, work);

  double eo = Median(tOurs), eu = Median(tUnzip), eb = Median(tBsdtar);
  double po = Median(pOurs), pz = Median(pZip);
  std::printf("extraction of the bundle archive (wall time, median)\n");
  std::printf("  ExtractArchive     %8.1f ms\n", eo * 1000);
  std::printf("  unzip -q -o        %8.1f ms\n", eu * 1000);
  std::printf("  bsdtar -xf         %8.1f ms\n", eb * 1000);
  std::printf("  ratio ours/unzip   %8.2f x  (target <= 1.00)\n", eo / eu);
  std::printf("  ratio ours/bsdtar  %8.2f x\n", eo / eb);
  std::printf("  same files as unzip: %s\n\n", same ? "yes" : "NO");
  std::printf("packing the dictionary folder (wall time, median)\n");
  std::printf("  PackFolder         %8.1f ms  (%.0f kB)\n", po * 1000, oursPacked / 1024.0);
  std::printf("  zip -q -6 -j       %8.1f ms  (%.0f kB)\n", pz * 1000, zipPacked / 1024.0);
  std::printf("  ratio ours/zip     %8.2f x  (target <= 1.00)\n\n", po / pz);
  std::printf("peak resident memory of extraction above the process baseline\n");
  std::printf("  ExtractArchive, bundle       %8.0f kB  (target <= 8192)\n", Median(mOurs));
  std::printf("  ExtractArchive, large entry  %8.0f kB\n", Median(mOursBig));
  std::printf("  ExtractArchive process peak  %8.0f kB  (whole, bundle)\n", Median(mOursWhole));
  std::printf("  unzip process peak (whole)   %8ld kB\n", unzipRss);
  std::printf("  bsdtar process peak (whole)  %8ld kB\n", bsdtarRss);

  if (!keep) stdfs::remove_all(work);
  else std::printf("\nkept %s\n", work.string().c_str());
  return same ? 0 : 1;
}
