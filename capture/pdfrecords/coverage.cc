#include "capture/pdfrecords/coverage.h"

#include <fontconfig/fontconfig.h>

namespace zv::capture::pdfrecords {
namespace {

// The coverage of every installed face, merged. It lives as long as the process: the faces
// installed do not change while a job is drawn, and a later job reads them again only in a
// new feeder.
FcCharSet* InstalledCoverage() {
  static FcCharSet* const all = [] {
    FcCharSet* merged = FcCharSetCreate();
    FcPattern* any = FcPatternCreate();
    FcObjectSet* only = FcObjectSetBuild(FC_CHARSET, nullptr);
    FcFontSet* fonts = FcFontList(nullptr, any, only);
    for (int i = 0; fonts && i < fonts->nfont; ++i) {
      FcCharSet* cs = nullptr;
      if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &cs) == FcResultMatch && cs)
        FcCharSetMerge(merged, cs, nullptr);
    }
    if (fonts) FcFontSetDestroy(fonts);
    FcObjectSetDestroy(only);
    FcPatternDestroy(any);
    return merged;
  }();
  return all;
}

}  // namespace

bool InstalledFacesCover(char32_t c) {
  // Spaces and controls draw nothing: no face needs them.
  if (c <= 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x3000 || (c >= 0x2000 && c <= 0x200F)) return true;
  return FcCharSetHasChar(InstalledCoverage(), static_cast<FcChar32>(c)) != FcFalse;
}

}  // namespace zv::capture::pdfrecords
