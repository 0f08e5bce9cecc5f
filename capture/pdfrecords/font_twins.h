// Installed faces of the same design as a document's font: an embedded font named after a
// classic design (Times, Helvetica, Courier, the other PostScript base faces, TeX's Computer
// Modern / Latin Modern) under a name no installed face carries ("NimbusRomNo9L-Regu",
// "TeXGyreTermes-Bold", "ArialMT", "CMR10") is drawn as text in an installed face of that design
// or its metric twin, so its words stay text wherever the page goes.
#pragma once

#include <string>

namespace zv::capture::pdfrecords {

// Takes a font name as a PDF gives it (subset prefix and style suffix allowed) or the family
// name a font program gives itself; gives the installed family that draws the same design, or
// empty when the name is of no known design or no face of it is installed.
std::string InstalledTwinFace(const std::string& name);

// Takes a font name; tells the weight and slant its name gives beyond the usual "-Bold" and
// "-Italic" suffixes: URW's "Medi" and "Ital", TeX's CMBX / CMTI, "Obli", "Demi".
struct TwinStyle {
  bool bold = false;
  bool italic = false;
};
TwinStyle StyleOfName(const std::string& name);

}  // namespace zv::capture::pdfrecords
