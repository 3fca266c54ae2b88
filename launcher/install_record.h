// The record an install leaves in the work folder as its very last step:
// the identity of the bundle it installed and the user folder whose data it
// holds. A work folder without it (a run stopped while installing, or a
// clean-up cut short) or with another bundle's identity is never used.
#pragma once

#include <string>

struct TInstallRecord {
  bool Present = false;
  std::string Bundle;      // BundleIdentity() of the installed bundle
  std::string UserFolder;  // the current folder of the run that installed it
};

// The record of the work folder WorkDir (ends with a separator); Present is
// false when there is none or it cannot be read whole.
TInstallRecord ReadInstallRecord(const std::string& WorkDir);

// Writes the record in one step (a new file renamed into place). Raises
// EInOutError with the reason when it cannot.
void WriteInstallRecord(const std::string& WorkDir, const TInstallRecord& Record);

// Removes the record, so that a folder being taken apart is never taken for
// a ready one. True when there is none any more.
bool RemoveInstallRecord(const std::string& WorkDir);

std::string InstallRecordName(const std::string& WorkDir);
