// The bundle is found through the section table of the executable's own
// image, as the loader mapped it: the section named ".qbundle", wherever it
// lies. No symbol refers into it, so quintabel-pack may replace it with a
// section of another size.
#include <windows.h>

#include <cstring>

#include "launcher/embedded_bundle.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // NOLINT(readability-identifier-naming): the linker's name

bool FindEmbeddedBundle(TEmbeddedBundle& Bundle) {
  const unsigned char* Base = reinterpret_cast<const unsigned char*>(&__ImageBase);
  const IMAGE_NT_HEADERS* Nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Base + __ImageBase.e_lfanew);
  const IMAGE_SECTION_HEADER* Section = IMAGE_FIRST_SECTION(Nt);
  for (WORD I = 0; I < Nt->FileHeader.NumberOfSections; ++I, ++Section) {
    if (std::memcmp(Section->Name, BundleSectionName, sizeof BundleSectionName) != 0) continue;
    return ReadBundleHeader(Base + Section->VirtualAddress, Section->Misc.VirtualSize, Bundle);
  }
  return false;
}
