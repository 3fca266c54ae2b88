// Names a platform keeps for its devices. On Windows a path segment such as
// "CON" or "nul.txt" opens a device wherever it stands in a path, so a file
// of that name can never be created.
#pragma once

#include <string>

// True when Segment (one segment of a path, without separators) has the form
// of a Windows device name: CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9,
// CONIN$, CONOUT$, or COM/LPT followed by a superscript 1, 2 or 3; in any
// letter case, with any extension ("nul.txt", "com1.tar.gz") and with any
// trailing spaces or dots. Pure text: the same answer on every platform.
bool HasWindowsDeviceForm(const std::string& Segment);

// True when Segment names a device on this platform: HasWindowsDeviceForm on
// Windows, never on POSIX, where every such name is an ordinary file name.
bool IsReservedName(const std::string& Segment);
