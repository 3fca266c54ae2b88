// The program's argument list: entry 0 is the module file name, entries 1
// and on are the words of the command line after the first.
#pragma once

#include <string>
#include <vector>

// Cuts a command line into words. Characters with codes 1 to 32 separate
// words outside a quoted stretch; a double quote not followed by a second one
// opens or closes a quoted stretch and is dropped; two double quotes in a row
// are dropped together; every other character (a backslash too) is kept. A
// word made only of quotes is an empty word. The first word is the program as
// it was invoked.
std::vector<std::string> SplitProgramArguments(const std::string& CommandLine);

// Reads the process's argument list from the system (platform file): entry 0
// the module file name, then the arguments. argc/argv are those of main.
std::vector<std::string> ReadArgumentList(int Argc, char** Argv);

// Fills the argument list (done by the frame's start-up).
void SetArgumentList(std::vector<std::string> Arguments);

// Entry Index of the argument list, or empty text outside it.
std::string ParamStr(int Index);
// The number of arguments after entry 0.
int ParamCount();
// ParamStr(1), or empty text when there is none.
std::string FirstArgument();
