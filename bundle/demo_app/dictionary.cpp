#include "bundle/demo_app/dictionary.h"

#include <cstdio>

std::vector<TPair> ParsePairs(const std::string& Text) {
  std::vector<TPair> Pairs;
  size_t At = 0;
  if (Text.compare(0, 3, "\xEF\xBB\xBF") == 0) At = 3;
  while (At < Text.size()) {
    size_t End = Text.find('\n', At);
    if (End == std::string::npos) End = Text.size();
    std::string Line = Text.substr(At, End - At);
    At = End + 1;
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (Line.empty()) continue;
    const size_t Semicolon = Line.find(';');
    if (Semicolon == std::string::npos) {
      Pairs.emplace_back(Line, std::string());
    } else {
      Pairs.emplace_back(Line.substr(0, Semicolon), Line.substr(Semicolon + 1));
    }
  }
  return Pairs;
}

std::string QuotePrologAtom(const std::string& Atom) {
  std::string Quoted = "'";
  for (const char C : Atom) {
    const unsigned char B = static_cast<unsigned char>(C);
    switch (C) {
      case '\\': Quoted += "\\\\"; break;
      case '\'': Quoted += "\\'"; break;
      case '\n': Quoted += "\\n"; break;
      case '\r': Quoted += "\\r"; break;
      case '\t': Quoted += "\\t"; break;
      default:
        if (B < 0x20 || B == 0x7F) {
          char Escape[8];
          std::snprintf(Escape, sizeof Escape, "\\x%X\\", B);
          Quoted += Escape;
        } else {
          Quoted += C;
        }
    }
  }
  Quoted += '\'';
  return Quoted;
}

std::string TradDynFact(const TPair& Pair) {
  return "trad_dyn(" + QuotePrologAtom(Pair.first) + ", " + QuotePrologAtom(Pair.second) + ").";
}
