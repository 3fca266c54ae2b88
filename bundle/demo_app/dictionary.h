// The demo application's data: word;translation lines and Prolog facts.
#pragma once

#include <string>
#include <utility>
#include <vector>

using TPair = std::pair<std::string, std::string>;

// Reads "word;translation" lines (UTF-8; a leading byte-order mark, CR line
// ends and empty lines are ignored; a line without ';' is a word with an
// empty translation).
std::vector<TPair> ParsePairs(const std::string& Text);
// The atom as a quoted Prolog atom that reads back as the same text.
std::string QuotePrologAtom(const std::string& Atom);
// One fact: trad_dyn('word', 'translation').
std::string TradDynFact(const TPair& Pair);
