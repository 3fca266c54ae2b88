#include "fs/process_token_win32.h"

std::vector<unsigned char> ProcessTokenInformation(TOKEN_INFORMATION_CLASS Class) {
  std::vector<unsigned char> Buffer;
  HANDLE Token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &Token)) return Buffer;
  DWORD Size = 0;
  GetTokenInformation(Token, Class, nullptr, 0, &Size);
  if (Size != 0) {
    Buffer.resize(Size);
    if (!GetTokenInformation(Token, Class, Buffer.data(), Size, &Size)) Buffer.clear();
  }
  CloseHandle(Token);
  return Buffer;
}

PSID ProcessUserSid(std::vector<unsigned char>& Buffer) {
  Buffer = ProcessTokenInformation(TokenUser);
  return Buffer.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(Buffer.data())->User.Sid;
}
