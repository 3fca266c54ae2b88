// The bundle is found through the section table of the executable's own
// image, as the loader mapped it: the section named ".qbundle", wherever it
// lies. No symbol refers into it, so quintabel-pack may replace it with a
// section of another size.
#include "launcher/embedded_bundle.h"

#include <windows.h>

#include <cstring>

extern "C" IMAGE_DOS_HEADER __ImageBase;

bool FindEmbeddedBundle(TEmbeddedBundle& Bundle) {
  const unsigned char* base = reinterpret_cast<const unsigned char*>(&__ImageBase);
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (std::memcmp(section->Name, BundleSectionName, sizeof BundleSectionName) != 0) continue;
    return ReadBundleHeader(base + section->VirtualAddress, section->Misc.VirtualSize, Bundle);
  }
  return false;
}
