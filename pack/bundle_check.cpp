#include "pack/bundle_check.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"
#include "zip/zip_reader.h"

namespace {

// The launcher writes its bundle to the work folder in one request of a
// 32-bit signed count.
constexpr int64_t MaxBundleSize = 2147483647;
const char* const RootEntries[] = {"quintabel.exe", "swipl.home", "dereroz.zip"};

std::string Describe(const Exception& Failure) {
  return std::string(Failure.ClassName()) + ": " + Failure.Message();
}

// A folder of its own in the temporary folder.
std::string ScratchFolder() {
  std::random_device device;
  std::mt19937_64 random(device() ^ static_cast<uint64_t>(
                                        std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string temp = GetTempFolder();
  temp = IncludeTrailingSeparator(temp.empty() ? GetCurrentFolder() : temp);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string folder = temp + "quintabel-pack-" + std::to_string(random() % 1000000000000ull) + PathSeparator;
    if (!FolderExists(folder) && !FileExists(ExcludeTrailingSeparator(folder)) && CreateFolder(folder))
      return folder;
  }
  throw EFCreateError(FormatText("Unable to create a scratch folder in \"%s\"", temp));
}

}  // namespace

std::string BundleProblem(const std::string& Archive) {
  int64_t size = 0;
  unsigned char head[4] = {};
  int32_t headLength = 0;
  try {
    TFileStream stream(Archive, fmOpenRead | fmShareDenyWrite);
    size = stream.Size();
    headLength = stream.Read(head, 4);
  } catch (const Exception& Failure) {
    return "cannot be read (" + Describe(Failure) + ")";
  }
  if (headLength != 4 || head[0] != 0x50 || head[1] != 0x4B || head[2] != 0x03 || head[3] != 0x04)
    return "is not a zip archive beginning with a local file header (the first four bytes must be 50 4B 03 04)";
  if (size > MaxBundleSize)
    return FormatText("is larger than %d bytes, more than the launcher writes in one request", MaxBundleSize);

  const std::string scratch = ScratchFolder();
  TScopeExit cleanUp([&scratch] { DeleteFolderTree(scratch, false); });
  try {
    ExtractArchive(Archive, scratch);
  } catch (const Exception& Failure) {
    return "cannot be extracted by the launcher (" + Describe(Failure) + ")";
  }
  std::vector<std::string> missing;
  for (const char* name : RootEntries)
    if (!FileExists(scratch + name)) missing.push_back(name);
  if (!missing.empty()) {
    std::string list;
    for (const std::string& name : missing) list += (list.empty() ? "\"" : ", \"") + name + "\"";
    return std::string("lacks the root ") + (missing.size() == 1 ? "entry " : "entries ") + list +
           " (a bundle must hold quintabel.exe, swipl.home and dereroz.zip at its root)";
  }
  try {
    ExtractArchive(scratch + "dereroz.zip", scratch + "dereroz" + PathSeparator);
  } catch (const Exception& Failure) {
    return "holds a \"dereroz.zip\" that the launcher cannot extract (" + Describe(Failure) + ")";
  }
  return std::string();
}

std::string BundleProblemMessage(const std::string& Archive, const std::string& Problem) {
  return "Invalid quintabel bundle \"" + Archive + "\": it " + Problem + ".";
}
