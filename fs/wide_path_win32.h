// Paths for the wide ("W") calls. Windows only.
#pragma once

#include <string>

// Path as UTF-16 for the wide calls. A path of 248 characters or more (the
// limit of folder creation; files stop at 260) goes in its "\\?\" form,
// made absolute and with its separators, "." and ".." resolved first, since
// that form takes every character literally; shorter paths stay as they
// are. A path that already starts with "\\?\" is left alone.
std::wstring WidePath(const std::string& Path);
