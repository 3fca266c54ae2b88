// The system's error codes (errno on POSIX, GetLastError on Windows) and the
// short reasons that reports give for them.
#pragma once

#include <string>

// The code of the last failed system call of this thread.
int LastSystemError();

// The reason a report gives for Code, in a few lower-case words: "in use by
// another program", "permission denied", "no space left", "not found", ...;
// codes without a short reason get the system's own text and the number.
std::string SystemErrorReason(int Code);

// True when Code says that another program holds the file in a way that
// refuses this access (a sharing or lock violation); such refusals are
// usually brief, so callers try again for a while.
bool IsSharingViolation(int Code);

// The reason for a code of the operating system (system_error_<platform>.cpp).
std::string PlatformErrorReason(int Code);

// Codes of the operating system that failures of this system's own carry
// (system_error_<platform>.cpp): an access refused, a file or folder in use
// by another program, an operation stopped by a request to stop.
extern const int AccessDeniedError;
extern const int InUseError;
extern const int InterruptedError;

// Codes of this system for conditions the operating system has no code for.
// The entry exists but is not a regular file (a folder, a FIFO, a device,
// a socket).
inline constexpr int NotARegularFileError = -1001;
// The entry is a link, which is never followed here.
inline constexpr int IsALinkError = -1002;
// The entry belongs to another user.
inline constexpr int NotOwnedError = -1003;
// A folder stands where a file is to go.
inline constexpr int FolderInTheWayError = -1004;
// The file holds more than the reader takes (see ReadWholeFile).
inline constexpr int FileTooLargeError = -1005;
