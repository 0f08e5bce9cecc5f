// The WM_COPYDATA descriptor in its 32-bit Windows layout, as window messages carry it
// between processes: a caller-chosen number, the byte count, and where the bytes lie. On
// the wire lpData is the offset of the bytes from the start of the descriptor's message
// body, never an address.
#pragma once

#include "platform/wintypes/wintypes.h"

namespace zv::win {

struct COPYDATASTRUCT32 {
  DWORD dwData;  // the sender's number (ULONG_PTR in a 32-bit program)
  DWORD cbData;  // number of bytes that follow
  DWORD lpData;  // offset of those bytes (a pointer in a 32-bit program)
};
static_assert(sizeof(COPYDATASTRUCT32) == 12);

}  // namespace zv::win
