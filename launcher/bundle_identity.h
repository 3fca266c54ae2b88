// What tells one bundle from another: an install records it, and a work
// folder is reused only by a launcher that carries the same bundle.
#pragma once

#include <cstddef>
#include <string>

// "<size>-<crc>" for the archive Data of Size bytes: its size and the
// CRC-32 of its central directory and end record, which hold the name, size
// and CRC-32 of every entry, so any change of content changes it. An
// archive whose end record is not where the launcher's reader expects it
// gets the CRC-32 of all its bytes.
std::string BundleIdentity(const void* Data, size_t Size);

// The identity of the bundle this launcher carries (registered at start-up).
std::string EmbeddedBundleIdentity();
