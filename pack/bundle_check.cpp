#include "pack/bundle_check.h"

#include <cstdint>
#include <vector>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/file_transfer.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"
#include "zip/zip_reader.h"

namespace {

// The launcher writes its bundle to the work folder in one request of a
// 32-bit signed count.
constexpr int64_t MaxBundleSize = 2147483647;
const char* const RootEntries[] = {"quintabel.exe", "swipl.home", "dereroz.zip"};

std::string Describe(const Exception& Failure) { return std::string(Failure.ClassName()) + ": " + Failure.Message(); }

// A folder of its own in the temporary folder.
std::string ScratchFolder() {
  std::string Temp = GetTempFolder();
  Temp = IncludeTrailingSeparator(Temp.empty() ? GetCurrentFolder() : Temp);
  // A name taken by another checker between the choice and the creation is
  // passed over.
  for (int Attempt = 0; Attempt < 100; ++Attempt) {
    const std::string Folder = UniqueSiblingName(Temp + "quintabel-pack");
    if (CreateFolder(Folder)) return IncludeTrailingSeparator(Folder);
  }
  throw EFCreateError(FormatText("Unable to create a scratch folder in \"%s\"", Temp));
}

}  // namespace

std::string BundleProblem(const std::string& Archive) {
  int64_t Size = 0;
  unsigned char Head[4] = {};
  int32_t HeadLength = 0;
  try {
    TFileStream Stream(Archive, fmOpenRead | fmShareDenyWrite);
    Size = Stream.Size();
    HeadLength = Stream.Read(Head, 4);
  } catch (const Exception& Failure) {
    return "cannot be read (" + Describe(Failure) + ")";
  }
  if (HeadLength != 4 || Head[0] != 0x50 || Head[1] != 0x4B || Head[2] != 0x03 || Head[3] != 0x04)
    return "is not a zip archive beginning with a local file header (the first four bytes must be 50 4B 03 04)";
  if (Size > MaxBundleSize)
    return FormatText("is larger than %d bytes, more than the launcher writes in one request", MaxBundleSize);

  const std::string Scratch = ScratchFolder();
  TScopeExit CleanUp([&Scratch] { DeleteFolderTree(Scratch, false); });
  try {
    ExtractArchive(Archive, Scratch);
  } catch (const Exception& Failure) {
    return "cannot be extracted by the launcher (" + Describe(Failure) + ")";
  }
  std::vector<std::string> Missing;
  for (const char* Name : RootEntries)
    if (!FileExists(Scratch + Name)) Missing.push_back(Name);
  if (!Missing.empty()) {
    std::string List;
    for (const std::string& Name : Missing) List += (List.empty() ? "\"" : ", \"") + Name + "\"";
    return std::string("lacks the root ") + (Missing.size() == 1 ? "entry " : "entries ") + List +
           " (a bundle must hold quintabel.exe, swipl.home and dereroz.zip at its root)";
  }
  try {
    ExtractArchive(Scratch + "dereroz.zip", Scratch + "dereroz" + PathSeparator);
  } catch (const Exception& Failure) {
    return "holds a \"dereroz.zip\" that the launcher cannot extract (" + Describe(Failure) + ")";
  }
  return std::string();
}

std::string BundleProblemMessage(const std::string& Archive, const std::string& Problem) {
  return "Invalid quintabel bundle \"" + Archive + "\": it " + Problem + ".";
}
