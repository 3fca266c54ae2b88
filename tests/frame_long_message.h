// The message of the frame child's "long" scenario: 2,600 characters of
// numbered pieces, so that a lost or repeated stretch changes the text.
#pragma once

#include <cstdio>
#include <string>

inline std::string LongMessage() {
  std::string Text;
  for (int I = 0; Text.size() < 2600; ++I) {
    char Piece[16];
    std::snprintf(Piece, sizeof(Piece), "<%04d>", I);
    Text += Piece;
  }
  return Text.substr(0, 2600);
}
