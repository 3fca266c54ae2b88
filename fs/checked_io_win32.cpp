// Checked file operations on Windows: CreateFileW with the sharing that
// admits readers only, CREATE_NEW for new files (it never follows a link at
// the path: something there makes it fail), MoveFileExW to replace.
#include <windows.h>

#include <winternl.h>

#include "fs/checked_io.h"
#include "fs/handle_win32.h"
#include "fs/system_error.h"
#include "fs/wide_path_win32.h"

THandle OpenRegularFile(const std::string& Path, int& Error) {
  HANDLE Handle = CreateFileW(WidePath(Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) {
    Error = static_cast<int>(GetLastError());
    // A folder cannot be opened as a file: say what it is.
    if (Error == ERROR_ACCESS_DENIED) {
      const DWORD Attributes = GetFileAttributesW(WidePath(Path).c_str());
      if (Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY)) Error = ERROR_DIRECTORY;
    }
    return InvalidHandle;
  }
  BY_HANDLE_FILE_INFORMATION Info;
  if (GetFileType(Handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(Handle, &Info) ||
      (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(Handle);
    Error = NotARegularFileError;
    return InvalidHandle;
  }
  Error = 0;
  return AsInteger(Handle);
}

THandle CreateNewFile(const std::string& Path, int& Error, uint32_t /*Rights*/) {
  HANDLE Handle = CreateFileW(WidePath(Path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) {
    Error = static_cast<int>(GetLastError());
    return InvalidHandle;
  }
  Error = 0;
  return AsInteger(Handle);
}

int ReadSome(THandle Handle, void* Buffer, int32_t Count, int32_t& Got) {
  DWORD Done = 0;
  Got = 0;
  if (!ReadFile(AsHandle(Handle), Buffer, static_cast<DWORD>(Count), &Done, nullptr))
    return static_cast<int>(GetLastError());
  Got = static_cast<int32_t>(Done);
  return 0;
}

// Not declared by the system headers this build uses; exported by ntdll.
extern "C" NTSTATUS NTAPI NtReadFile(HANDLE File, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                     PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length,
                                     PLARGE_INTEGER ByteOffset, PULONG Key);

int ReadSomeAt(THandle Handle, int64_t Offset, void* Buffer, int32_t Count, int32_t& Got) {
  // NtReadFile with an offset and no completion context: ReadFile with an
  // OVERLAPPED would post a completion for every read, which costs a round
  // trip to the server under Wine.
  IO_STATUS_BLOCK Io{};
  LARGE_INTEGER At;
  At.QuadPart = Offset;
  Got = 0;
  const NTSTATUS Status =
      NtReadFile(AsHandle(Handle), nullptr, nullptr, nullptr, &Io, Buffer, static_cast<ULONG>(Count), &At, nullptr);
  if (Status == static_cast<NTSTATUS>(0xC0000011L)) return 0;  // STATUS_END_OF_FILE
  if (!NT_SUCCESS(Status)) return static_cast<int>(RtlNtStatusToDosError(Status));
  Got = static_cast<int32_t>(Io.Information);
  return 0;
}

int WriteAll(THandle Handle, const void* Buffer, int32_t Count) {
  const char* Data = static_cast<const char*>(Buffer);
  DWORD Left = static_cast<DWORD>(Count);
  while (Left > 0) {
    DWORD Done = 0;
    if (!WriteFile(AsHandle(Handle), Data, Left, &Done, nullptr)) return static_cast<int>(GetLastError());
    if (Done == 0) return ERROR_DISK_FULL;
    Data += Done;
    Left -= Done;
  }
  return 0;
}

int FlushToStorage(THandle Handle) { return FlushFileBuffers(AsHandle(Handle)) ? 0 : static_cast<int>(GetLastError()); }

int ReplaceEntry(const std::string& Source, const std::string& Target, bool Durable) {
  if (MoveFileExW(WidePath(Source).c_str(), WidePath(Target).c_str(),
                  MOVEFILE_REPLACE_EXISTING | (Durable ? MOVEFILE_WRITE_THROUGH : 0)))
    return 0;
  return static_cast<int>(GetLastError());
}

bool FileInUse(const std::string& Path) {
  HANDLE Handle = CreateFileW(WidePath(Path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_FILE_NOT_FOUND;
  CloseHandle(Handle);
  return false;
}
