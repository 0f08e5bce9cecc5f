// A bitmap at the depth its pixels need: a 24-bit bitmap of at most two colours becomes a
// 1-bit one, of at most 256 colours (a grey scan, a palette image drawn as 24 bits) an 8-bit
// one with those colours as its table. The pixels stay exactly the same; only the storage
// shrinks (a grey page to a third, a black-and-white one to a twenty-fourth).
#pragma once

#include <optional>

#include "platform/gdi/dib.h"

namespace zv::gdi {

// Takes a bitmap; gives the same pixels as a 1-bit or 8-bit BI_RGB bitmap with a colour
// table (same width, height and row order, same resolution fields), or none when the
// bitmap is not an uncompressed 24-bit one with a 40-byte header, does not fit its bytes, or
// holds more than 256 colours.
std::optional<Dib> NarrowDib(const DibRef& dib);

}  // namespace zv::gdi
