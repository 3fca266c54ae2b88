// Error codes on POSIX: errno values.
#include <errno.h>
#include <string.h>

#include "fs/system_error.h"

const int AccessDeniedError = EACCES;
const int InUseError = EBUSY;
const int InterruptedError = EINTR;

int LastSystemError() { return errno; }

bool IsSharingViolation(int Code) { return Code == EWOULDBLOCK || Code == EAGAIN || Code == ETXTBSY; }

std::string PlatformErrorReason(int Code) {
  switch (Code) {
    case EACCES:
    case EPERM: return "permission denied";
    case ENOSPC:
    case EDQUOT: return "no space left";
    case EWOULDBLOCK:
    case ETXTBSY: return "in use by another program";
    case ENOENT: return "not found";
    case ENOTDIR: return "a folder along the path is not a folder";
    case EISDIR: return "a folder";
    case EROFS: return "read-only file system";
    case EIO: return "input/output error";
    case ENAMETOOLONG: return "name too long";
    case ELOOP: return "a link, which is not followed";
    case EEXIST: return "already exists";
    case EMFILE:
    case ENFILE: return "too many open files";
    case EFBIG: return "file too large";
    default: break;
  }
  const char* Text = strerror(Code);
  std::string Reason = Text != nullptr ? Text : "unknown error";
  if (!Reason.empty() && Reason[0] >= 'A' && Reason[0] <= 'Z') Reason[0] = static_cast<char>(Reason[0] - 'A' + 'a');
  return Reason + " (error " + std::to_string(Code) + ")";
}
