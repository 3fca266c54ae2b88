// The demo application carried in the default bundle as "quintabel.exe". It
// stands in for the real application and uses the same data files:
//   - the dictionary: every "*.txt" file in the "dereroz" folder beside the
//     executable, lines "word;translation";
//   - "trad_dyn.csv" beside the executable (when present): the user's pairs,
//     same format; a word without translation is looked up in the dictionary;
//   - "trad_dyn.pl" beside the executable: written as trad_dyn/2 facts;
//   - "dereroz/appris.txt": every pair the dictionary did not know yet is
//     added to it, so the dictionary changes from run to run.
// The current folder is the user's and is not used.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "bundle/demo_app/demo_platform.h"
#include "bundle/demo_app/dictionary.h"

namespace fs = std::filesystem;

namespace {

bool ReadWholeFile(const fs::path& Path, std::string& Text) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Text.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return true;
}

std::string OneLine(std::string Text) {
  std::replace(Text.begin(), Text.end(), '\n', ' ');
  std::replace(Text.begin(), Text.end(), '\r', ' ');
  return Text;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> Arguments = DemoArguments(argc, argv);
  const std::string Argument = Arguments.empty() ? std::string() : Arguments[0];
  const fs::path Folder = fs::u8path(DemoExecutablePath()).parent_path();
  const fs::path Dictionary = Folder / "dereroz";
  std::error_code Error;

  // The dictionary, file by file in name order; the first translation of a
  // word wins.
  std::vector<fs::path> TextFiles;
  for (fs::directory_iterator It(Dictionary, Error), End; !Error && It != End; It.increment(Error)) {
    if (It->is_regular_file(Error) && It->path().extension() == ".txt") TextFiles.push_back(It->path());
  }
  std::sort(TextFiles.begin(), TextFiles.end());
  std::map<std::string, std::string> Translations;
  std::set<TPair> Known;
  for (const fs::path& File : TextFiles) {
    std::string Text;
    if (!ReadWholeFile(File, Text)) continue;
    for (const TPair& Pair : ParsePairs(Text)) {
      Translations.emplace(Pair.first, Pair.second);
      Known.insert(Pair);
    }
  }

  // The user's pairs.
  std::vector<TPair> Pairs;
  std::string Csv;
  if (ReadWholeFile(Folder / "trad_dyn.csv", Csv)) {
    for (TPair Pair : ParsePairs(Csv)) {
      if (Pair.second.empty()) {
        const auto Found = Translations.find(Pair.first);
        if (Found == Translations.end()) continue;
        Pair.second = Found->second;
      }
      Pairs.push_back(Pair);
    }
  }

  std::ostringstream Facts;
  Facts << "% trad_dyn(Word, Translation): written by the quintabel demo application.\n"
        << "% argument: " << OneLine(Argument) << "\n"
        << ":- dynamic trad_dyn/2.\n";
  for (const TPair& Pair : Pairs) Facts << TradDynFact(Pair) << "\n";
  {
    std::ofstream Out(Folder / "trad_dyn.pl", std::ios::binary | std::ios::trunc);
    Out << Facts.str();
    if (!Out.flush()) {
      std::fprintf(stderr, "quintabel demo: cannot write trad_dyn.pl\n");
      return 1;
    }
  }

  // Pairs the dictionary did not know are learnt.
  std::string Learnt;
  int LearntCount = 0;
  for (const TPair& Pair : Pairs) {
    if (Known.insert(Pair).second) {
      Learnt += Pair.first + ";" + Pair.second + "\n";
      ++LearntCount;
    }
  }
  if (LearntCount > 0) {
    fs::create_directories(Dictionary, Error);
    std::ofstream Out(Dictionary / "appris.txt", std::ios::binary | std::ios::app);
    Out << Learnt;
    if (!Out.flush()) {
      std::fprintf(stderr, "quintabel demo: cannot add to dereroz/appris.txt\n");
      return 1;
    }
  }

  std::printf("quintabel demo: argument \"%s\", %zu dictionary entries, %zu facts written, %d new pairs learnt\n",
              OneLine(Argument).c_str(), Translations.size(), Pairs.size(), LearntCount);
  return 0;
}
