// Test helper: whether fontconfig has a family installed under a name (one of its own family
// names, not a stand-in that fontconfig answers for an alias).
#pragma once

#include <fontconfig/fontconfig.h>

#include <string>

namespace zv::gdi {

inline bool FamilyInstalled(const std::string& family) {
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult res;
  FcPattern* match = FcFontMatch(nullptr, pat, &res);
  FcPatternDestroy(pat);
  bool found = false;
  FcChar8* name = nullptr;
  for (int i = 0; match && FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    found = found || family == reinterpret_cast<const char*>(name);
  }
  if (match) FcPatternDestroy(match);
  return found;
}

}  // namespace zv::gdi
