// UTF-8 text: its validation, its encoding of code points, and its
// conversion to and from UTF-16 (the text of Windows resources and calls).
#pragma once

#include <cstdint>
#include <string>

// True when Bytes is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(const std::string& Bytes);

// Appends the code point CodePoint (at most U+10FFFF) to Out as UTF-8, in one
// to four bytes.
void AppendUtf8(std::string& Out, uint32_t CodePoint);

// UTF-8 to UTF-16; each byte that does not begin a well-formed UTF-8
// sequence becomes one U+FFFD.
std::u16string Utf8ToUtf16(const std::string& Text);
