#include <windows.h>
#include <sddl.h>

#include <vector>

#include "fs/file_services.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
#include "fs/wide_path_win32.h"
#include "launcher/work_folder.h"
#include "runtime/exceptions.h"

namespace {

// "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;<user>)": a protected access list that
// gives the system and the user of this process full control, inherited by
// everything made inside. Empty when the user cannot be read.
std::wstring PrivateAccessList() {
  HANDLE Token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &Token)) return std::wstring();
  DWORD Size = 0;
  GetTokenInformation(Token, TokenUser, nullptr, 0, &Size);
  std::vector<unsigned char> Buffer(Size != 0 ? Size : 1);
  std::wstring Result;
  wchar_t* Sid = nullptr;
  if (Size != 0 && GetTokenInformation(Token, TokenUser, Buffer.data(), Size, &Size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(Buffer.data())->User.Sid, &Sid)) {
    Result = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + std::wstring(Sid) + L")";
    LocalFree(Sid);
  }
  CloseHandle(Token);
  return Result;
}

}  // namespace

bool CreatePrivateFolder(const std::string& Path, int& Error) {
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
  Error = Made ? 0 : static_cast<int>(GetLastError());
  if (Descriptor != nullptr) LocalFree(Descriptor);
  return Made != 0;
}

void CreateWorkFolder(const std::string& WorkDir) {
  const std::string Parent = ExtractFolderPart(ExcludeTrailingSeparator(WorkDir));
  if (!Parent.empty()) ForceFolders(Parent);
  int Error = 0;
  if (!CreatePrivateFolder(WorkDir, Error) && Error != ERROR_ALREADY_EXISTS)
    throw EFCreateError(FormatText("Unable to create file \"%s\": %s", WorkDir, SystemErrorReason(Error)));
  CheckWorkFolder(WorkDir);
}
