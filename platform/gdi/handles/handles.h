// The process-wide table of metafile handles, standing in for SetEnhMetaFileBits,
// GetEnhMetaFileBits and DeleteEnhMetaFile. A handle is a 32-bit id (never a pointer, never
// 0), so records that carry a page's handle in a u32 field (the capture library's page
// record) hold it as it is. The table lives in one shared library, so a program and the
// shared libraries it loads see the same handles. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zv::gdi {

using HENHMETAFILE = std::uint32_t;

// Takes the bytes of an enhanced metafile; checks its header (as the metafile reader does)
// and keeps a copy. Gives the new handle, or 0 when the bytes are no metafile or the table
// is full.
HENHMETAFILE SetEnhMetaFileBits(std::span<const std::uint8_t> bytes);

// Takes a handle; gives the metafile's bytes (shared, unchanged while held even when the
// handle is deleted meanwhile), or null for an unknown handle.
std::shared_ptr<const std::vector<std::uint8_t>> GetEnhMetaFileBits(HENHMETAFILE handle);

// Takes a handle; forgets it. False for an unknown handle.
bool DeleteEnhMetaFile(HENHMETAFILE handle);

}  // namespace zv::gdi
