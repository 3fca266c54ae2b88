#include "fs/system_error.h"

std::string SystemErrorReason(int Code) {
  switch (Code) {
    case NotARegularFileError: return "not a regular file";
    case IsALinkError: return "a link, which is not followed";
    case NotOwnedError: return "owned by another user";
    case FolderInTheWayError: return "a folder stands in its place";
    case FileTooLargeError: return "larger than the reader takes";
    default: return PlatformErrorReason(Code);
  }
}
