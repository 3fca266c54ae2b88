// What this process's access token says about its user. Windows only.
#pragma once

#include <windows.h>

#include <vector>

// The token's information of Class (TokenUser, TokenOwner, ...) as the
// system lays it out; empty when it cannot be read.
std::vector<unsigned char> ProcessTokenInformation(TOKEN_INFORMATION_CLASS Class);

// The user this process runs as (inside Buffer, which must outlive the
// answer), or null.
PSID ProcessUserSid(std::vector<unsigned char>& Buffer);
