#include "runtime/arguments.h"

namespace {

std::vector<std::string> ArgumentList;

bool IsBlank(char C) {
  unsigned char U = static_cast<unsigned char>(C);
  return U >= 1 && U <= 32;
}

}  // namespace

std::vector<std::string> SplitProgramArguments(const std::string& CommandLine) {
  std::vector<std::string> Words;
  // The system's command line ends at its first NUL.
  const size_t N = CommandLine.find('\0') == std::string::npos ? CommandLine.size() : CommandLine.find('\0');
  size_t I = 0;
  for (;;) {
    while (I < N && IsBlank(CommandLine[I])) ++I;
    if (I >= N) break;
    std::string Word;
    bool Quoted = false;
    while (I < N && (Quoted || !IsBlank(CommandLine[I]))) {
      char C = CommandLine[I];
      if (C == '"') {
        if (I + 1 < N && CommandLine[I + 1] == '"') {
          I += 2;  // a doubled quote is dropped and changes nothing
          continue;
        }
        Quoted = !Quoted;
        ++I;
        continue;
      }
      Word += C;
      ++I;
    }
    Words.push_back(Word);
  }
  return Words;
}

void SetArgumentList(std::vector<std::string> Arguments) { ArgumentList = std::move(Arguments); }

std::string ParamStr(int Index) {
  if (Index < 0 || static_cast<size_t>(Index) >= ArgumentList.size()) return std::string();
  return ArgumentList[static_cast<size_t>(Index)];
}

int ParamCount() { return ArgumentList.empty() ? 0 : static_cast<int>(ArgumentList.size()) - 1; }

std::string FirstArgument() { return ParamStr(1); }
