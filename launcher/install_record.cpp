#include "launcher/install_record.h"

#include "fs/entry_status.h"
#include "fs/file_services.h"
#include "fs/file_transfer.h"
#include "runtime/exceptions.h"

namespace {

// The record's text: a first line that names it, then one "key value" line
// each. A record without its closing line was not written whole.
const char FirstLine[] = "quintabel install";
const char LastLine[] = "end";
constexpr size_t MaxRecordSize = 64 * 1024;

// The value of the line "Key value" in Text, and whether there is one.
bool FindValue(const std::string& Text, const std::string& Key, std::string& Value) {
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos) End = Text.size();
    if (Text.compare(Start, Key.size() + 1, Key + " ") == 0) {
      Value = Text.substr(Start + Key.size() + 1, End - Start - Key.size() - 1);
      return true;
    }
    Start = End + 1;
  }
  return false;
}

}  // namespace

std::string InstallRecordName(const std::string& WorkDir) { return WorkDir + "quintabel.install"; }

TInstallRecord ReadInstallRecord(const std::string& WorkDir) {
  TInstallRecord Record;
  std::string Text;
  if (!ReadWholeFile(InstallRecordName(WorkDir), MaxRecordSize, Text).Ok()) return Record;
  const std::string Head = std::string(FirstLine) + "\n";
  const std::string Tail = std::string("\n") + LastLine + "\n";
  if (Text.compare(0, Head.size(), Head) != 0 || Text.size() < Head.size() + Tail.size() ||
      Text.compare(Text.size() - Tail.size(), Tail.size(), Tail) != 0)
    return Record;
  if (!FindValue(Text, "bundle", Record.Bundle) || !FindValue(Text, "folder", Record.UserFolder)) return Record;
  Record.Present = true;
  return Record;
}

void WriteInstallRecord(const std::string& WorkDir, const TInstallRecord& Record) {
  const std::string Text =
      std::string(FirstLine) + "\nbundle " + Record.Bundle + "\nfolder " + Record.UserFolder + "\n" + LastLine + "\n";
  const TTransferResult Result = ReplaceFileWithText(InstallRecordName(WorkDir), Text, tdNotForced);
  if (!Result.Ok()) throw EInOutError(Result.Describe(std::string(), InstallRecordName(WorkDir)), Result.Error);
}

bool RemoveInstallRecord(const std::string& WorkDir) {
  const std::string Name = InstallRecordName(WorkDir);
  return RemoveFile(Name) || !EntryStatus(Name).Exists;
}
