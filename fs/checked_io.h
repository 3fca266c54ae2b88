// File operations that report the system's error code, for the copies that
// carry the user's data: a read error is never taken for the end of a file,
// and nothing is ever written through a link or into a file that was there
// before. Platform halves in checked_io_posix.cpp / checked_io_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_stream.h"

// The rights of a new plain file on POSIX, under the umask: read-write for
// all.
inline constexpr uint32_t PlainFileRights = 0666;

// Opens Path for reading when it is a regular file (a link to one is
// followed; a link to anything else, a folder, FIFO or device is refused
// with NotARegularFileError without blocking). Other openers may read but
// not write while it is open; one that holds it in a way that refuses this
// gives a code for which IsSharingViolation is true. InvalidHandle and
// Error on failure.
THandle OpenRegularFile(const std::string& Path, int& Error);

// Creates Path as a new, empty file open for reading and writing; fails (Error) when
// anything stands at Path already, a link included, which is never
// followed. Other openers are refused until it is closed. On POSIX the file
// gets Rights under the umask; Windows has no such bits.
THandle CreateNewFile(const std::string& Path, int& Error, uint32_t Rights = PlainFileRights);

// Reads up to Count bytes: 0 with Got = 0 at the end of the file, 0 with
// Got > 0 after a read, or the error code.
int ReadSome(THandle Handle, void* Buffer, int32_t Count, int32_t& Got);
// Reads up to Count bytes at Offset without moving the handle's own position,
// so that several threads can read one open file each at its own place: 0
// with Got = 0 at or past the end of the file, 0 with Got > 0 after a read,
// or the error code.
int ReadSomeAt(THandle Handle, int64_t Offset, void* Buffer, int32_t Count, int32_t& Got);
// Writes all Count bytes, or gives the error code (ENOSPC and the like).
int WriteAll(THandle Handle, const void* Buffer, int32_t Count);
// Forces what was written out to the storage device; 0 or the error code.
int FlushToStorage(THandle Handle);

// Puts the file Source in Target's place in one step (Target may exist and
// is replaced as an entry, never written into), with Durable making the
// change itself durable too; 0 or the error code.
int ReplaceEntry(const std::string& Source, const std::string& Target, bool Durable);

// True when some program has the file Path open in a way that shows it is
// being written (its writer's lock on POSIX, a sharing refusal on Windows).
bool FileInUse(const std::string& Path);
