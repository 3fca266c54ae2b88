// The private folder on Windows: an access list of the user and the system.
#include <windows.h>

#include <sddl.h>

#include <vector>

#include "fs/path_text.h"
#include "fs/process_token_win32.h"
#include "fs/wide_path_win32.h"
#include "launcher/work_folder.h"

namespace {

// "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;<user>)": a protected access list that
// gives the system and the user of this process full control, inherited by
// everything made inside. Empty when the user cannot be read.
std::wstring PrivateAccessList() {
  std::vector<unsigned char> Buffer;
  const PSID User = ProcessUserSid(Buffer);
  wchar_t* Sid = nullptr;
  if (User == nullptr || !ConvertSidToStringSidW(User, &Sid)) return std::wstring();
  const std::wstring Result = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + std::wstring(Sid) + L")";
  LocalFree(Sid);
  return Result;
}

}  // namespace

int CreatePrivateFolder(const std::string& Path) {
  SECURITY_ATTRIBUTES Attributes = {};
  Attributes.nLength = sizeof Attributes;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  const std::wstring AccessList = PrivateAccessList();
  if (!AccessList.empty() &&
      ConvertStringSecurityDescriptorToSecurityDescriptorW(AccessList.c_str(), SDDL_REVISION_1, &Descriptor, nullptr))
    Attributes.lpSecurityDescriptor = Descriptor;
  // CreateDirectoryW does not follow a link standing at the path: it fails
  // with ERROR_ALREADY_EXISTS.
  const BOOL Made = CreateDirectoryW(WidePath(ExcludeTrailingSeparator(Path)).c_str(), &Attributes);
  const int Error = Made ? 0 : static_cast<int>(GetLastError());
  if (Descriptor != nullptr) LocalFree(Descriptor);
  return Error;
}
