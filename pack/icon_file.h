// Icons: the images of an .ico file, and their place in a launcher's
// resources (icons and the icon group that lists them).
#pragma once

#include <cstdint>
#include <vector>

#include "pack/pe_bytes.h"
#include "pack/resource_tree.h"

// One image of an .ico file.
struct TIconImage {
  uint8_t Width = 0, Height = 0, ColourCount = 0;
  uint16_t Planes = 0, BitCount = 0;
  TBytes Data;
};
// The images of an .ico file; raises EPackError when it is not one.
std::vector<TIconImage> ReadIconFile(const TBytes& File);
// Replaces every icon and icon group by the images: one group (named like
// the first group there was, else 1) of icons numbered from 1.
void ReplaceIcon(std::vector<TResource>& Resources, const std::vector<TIconImage>& Images);
