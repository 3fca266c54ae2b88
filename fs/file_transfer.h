// Whole-file transfers that never leave a target half-written: the copies
// that bring the user's data in and carry the application's output back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "fs/checked_io.h"

class TStream;

// The step at which a transfer stopped.
enum TTransferStep : uint8_t {
  tsDone,           // the transfer completed
  tsOpenSource,     // the source could not be opened as a regular file
  tsReadSource,     // reading the source failed
  tsCreateTarget,   // no new file could be made beside the target
  tsWriteTarget,    // writing or flushing the new file failed
  tsReplaceTarget,  // the new file could not take the target's place
};

struct TTransferResult {
  TTransferStep Step = tsDone;
  int Error = 0;  // the system's code (see fs/system_error.h)
  bool Ok() const { return Step == tsDone; }
  // "cannot read "<source>": <reason>" or "cannot write "<target>": <reason>".
  std::string Describe(const std::string& Source, const std::string& Target) const;
};

// How long an open or a replacement refused by another program's hold on the
// file is tried again (scanners and sync clients hold files briefly).
constexpr uint32_t SharingRetryMilliseconds = 5000;

// How durable a replacement must be: the user's files are forced to storage
// before and after the rename; the launcher's own files in the temporary
// folder need not survive a crash of the machine.
enum TDurability : uint8_t { tdForced, tdNotForced };

// Copies the regular file Source whole into a new file beside Target (a
// unique name, see UniqueSiblingName), forces it to storage (tdForced) and
// then puts it in Target's place in one rename. Target is replaced as an entry: never
// written into, never followed if it is a link. On any failure Target stays
// as it was and nothing is left beside it. Opens and the replacement that
// another program refuses for a moment are tried again for
// SharingRetryMilliseconds.
TTransferResult ReplaceFileWithCopy(const std::string& Source, const std::string& Target,
                                    TDurability Durability = tdForced);

// Writes Text as the whole content of Target in the same way: a new file
// beside it, forced to storage, renamed into place.
TTransferResult ReplaceFileWithText(const std::string& Target, const std::string& Text,
                                    TDurability Durability = tdForced);

// Writes Target whole through Write, which writes into the stream it is
// given (a new file beside Target, open for reading and writing, at its
// start), in the same way: forced to storage, renamed into place. A failure
// to write the new file or to put it in place comes back as the result;
// whatever else Write raises (it could not read what it writes, say) is
// raised again. Either way Target stays as it was and nothing is left
// beside it. On POSIX the new file gets Rights under the umask.
TTransferResult ReplaceFileByWriting(const std::string& Target, TDurability Durability,
                                     const std::function<void(TStream&)>& Write, uint32_t Rights = PlainFileRights);

// Reads the regular file Path whole into Text when it holds at most MaxSize
// bytes. Otherwise the result says why: tsOpenSource (missing, not a regular
// file, refused) or tsReadSource (a read failed, or FileTooLargeError when
// the file holds more than MaxSize bytes), with the system's code.
TTransferResult ReadWholeFile(const std::string& Path, size_t MaxSize, std::string& Text);

// A name beside Path that nothing has yet: Path followed by ".~" and twelve
// hexadecimal digits.
std::string UniqueSiblingName(const std::string& Path);
// True when Name is one that UniqueSiblingName gives for a file named Base.
bool IsSiblingNameOf(const std::string& Name, const std::string& Base);

// Removes, in the folder of Path, the files that transfers or archive
// writers left beside Path when they were stopped (UniqueSiblingName names)
// and that no program has open any more. Files of other users are left
// alone.
void RemoveAbandonedSiblings(const std::string& Path);
