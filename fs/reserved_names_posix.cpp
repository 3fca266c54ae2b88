// POSIX keeps no file names for devices: every segment is an ordinary name.
#include "fs/reserved_names.h"

bool IsReservedName(const std::string& /*Segment*/) { return false; }
