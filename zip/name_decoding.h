// Entry names as text: names stored by other tools in the old DOS code page
// are turned into UTF-8 like every other path of the system.
#pragma once

#include <string>

// Bytes read as code page 437 (the ZIP format's historical default),
// converted to UTF-8. Bytes below 0x80 stay as they are.
std::string Cp437ToUtf8(const std::string& Bytes);

// The name as UTF-8: valid UTF-8 is kept unchanged, anything else is decoded
// as code page 437.
std::string DecodeEntryName(const std::string& Bytes);
