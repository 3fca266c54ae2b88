// Windows opens a device for any segment of the device form, in any folder.
#include "fs/reserved_names.h"

bool IsReservedName(const std::string& Segment) { return HasWindowsDeviceForm(Segment); }
