#include "runtime/arguments.h"

namespace {

std::vector<std::string> ArgumentList;

bool IsBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

}  // namespace

std::vector<std::string> SplitProgramArguments(const std::string& CommandLine) {
  std::vector<std::string> words;
  // The system's command line ends at its first NUL.
  const size_t n = CommandLine.find('\0') == std::string::npos ? CommandLine.size()
                                                                : CommandLine.find('\0');
  size_t i = 0;
  for (;;) {
    while (i < n && IsBlank(CommandLine[i])) ++i;
    if (i >= n) break;
    std::string word;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(CommandLine[i]))) {
      char c = CommandLine[i];
      if (c == '"') {
        if (i + 1 < n && CommandLine[i + 1] == '"') {
          i += 2;  // a doubled quote is dropped and changes nothing
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      word += c;
      ++i;
    }
    words.push_back(word);
  }
  return words;
}

void SetArgumentList(std::vector<std::string> Arguments) { ArgumentList = std::move(Arguments); }

std::string ParamStr(int Index) {
  if (Index < 0 || static_cast<size_t>(Index) >= ArgumentList.size()) return std::string();
  return ArgumentList[static_cast<size_t>(Index)];
}

int ParamCount() {
  return ArgumentList.empty() ? 0 : static_cast<int>(ArgumentList.size()) - 1;
}

std::string FirstArgument() { return ParamStr(1); }
