// File handles on Windows: CreateFileW/WriteFile/SetFilePointer/SetEndOfFile/
// CloseHandle, with the open-mode mapping (reads and flushes go through the
// checked operations of checked_io_win32.cpp).
#include <windows.h>

#include "fs/file_stream.h"
#include "fs/handle_win32.h"
#include "fs/wide_path_win32.h"

namespace {

bool AccessRights(unsigned Access, DWORD& Rights) {
  switch (Access) {
    case 0: Rights = GENERIC_READ; return true;
    case 1: Rights = GENERIC_WRITE; return true;
    case 2: Rights = GENERIC_READ | GENERIC_WRITE; return true;
    default: return false;
  }
}

bool ShareRights(unsigned Sharing, DWORD& Share) {
  switch (Sharing) {
    case 0:
    case 1: Share = 0; return true;
    case 2: Share = FILE_SHARE_READ; return true;
    case 3: Share = FILE_SHARE_WRITE; return true;
    case 4: Share = FILE_SHARE_READ | FILE_SHARE_WRITE; return true;
    default: return false;
  }
}

}  // namespace

THandle FileOpenHandle(const std::string& FileName, uint16_t Mode, uint32_t /*Rights*/) {
  DWORD Share = 0;
  if (!ShareRights((Mode >> 4) & 0xFu, Share)) return InvalidHandle;
  std::wstring Name = WidePath(FileName);
  HANDLE H;
  if (Mode < 0x100) {
    DWORD Access = 0;
    unsigned AccessBits = Mode & 0x3u;
    if (!AccessRights(AccessBits, Access)) return InvalidHandle;
    // A stream that reads and writes an existing file may also set its times.
    if (AccessBits == 2) Access |= FILE_WRITE_ATTRIBUTES;
    H = CreateFileW(Name.c_str(), Access, Share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    H = CreateFileW(Name.c_str(), GENERIC_READ | GENERIC_WRITE, Share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
  }
  if (H == INVALID_HANDLE_VALUE || H == nullptr) return InvalidHandle;
  return AsInteger(H);
}

void FileCloseHandle(THandle Handle) {
  if (Handle != InvalidHandle) CloseHandle(AsHandle(Handle));
}

int32_t THandleStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  DWORD Done = 0;
  if (!WriteFile(AsHandle(Handle), Buffer, static_cast<DWORD>(Count), &Done, nullptr)) return 0;
  return static_cast<int32_t>(Done);
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  DWORD Method;
  switch (Origin) {
    case soBeginning: Method = FILE_BEGIN; break;
    case soCurrent: Method = FILE_CURRENT; break;
    case soEnd: Method = FILE_END; break;
    default: return -1;
  }
  LONG High = static_cast<LONG>(Offset >> 32);
  SetLastError(NO_ERROR);
  DWORD Low = SetFilePointer(AsHandle(Handle), static_cast<LONG>(Offset & 0xFFFFFFFF), &High, Method);
  if (Low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(High)) << 32) | Low);
}

bool THandleStream::SetSize(int64_t NewSize) {
  if (Seek(NewSize, soBeginning) < 0) return false;
  return SetEndOfFile(AsHandle(Handle)) != 0;
}
