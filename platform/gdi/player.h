// The metafile player: walks an enhanced metafile's records and gives each to a caller's hook
// (the EnumEnhMetaFile model), which may play it, skip it, play a changed copy or draw
// something else on the device context instead. Without a hook every record is played.
//
// Every record is checked by the metafile reader (platform/gdi/emf) before it is used; a bad
// record stops the playback of that metafile with a Corruption status, never a crash.
//
// Played records:
//   shapes        POLYBEZIER, POLYGON, POLYLINE, POLYBEZIERTO, POLYLINETO, POLYPOLYLINE,
//                 POLYPOLYGON, POLYDRAW (and their 16-bit forms), LINETO, MOVETOEX, RECTANGLE,
//                 ROUNDRECT, ELLIPSE, ARC, ARCTO, CHORD, PIE, ANGLEARC, SETPIXELV
//   coordinates   SETMAPMODE, SETWINDOWEXTEX, SETWINDOWORGEX, SETVIEWPORTEXTEX,
//                 SETVIEWPORTORGEX, SCALEWINDOWEXTEX, SCALEVIEWPORTEXTEX, SETWORLDTRANSFORM,
//                 MODIFYWORLDTRANSFORM, SAVEDC, RESTOREDC
//   attributes    SETBKMODE, SETBKCOLOR, SETTEXTCOLOR, SETTEXTALIGN, SETROP2, SETPOLYFILLMODE,
//                 SETSTRETCHBLTMODE, SETARCDIRECTION, SETMITERLIMIT, SETBRUSHORGEX,
//                 SETMAPPERFLAGS, SETTEXTJUSTIFICATION, SETLAYOUT (left-to-right only)
//   objects       CREATEPEN, EXTCREATEPEN, CREATEBRUSHINDIRECT, CREATEDIBPATTERNBRUSHPT,
//                 CREATEMONOBRUSH, EXTCREATEFONTINDIRECTW, SELECTOBJECT (stock objects too),
//                 DELETEOBJECT
//   paths         BEGINPATH, ENDPATH, CLOSEFIGURE, ABORTPATH, FILLPATH, STROKEPATH,
//                 STROKEANDFILLPATH, FLATTENPATH, WIDENPATH, SELECTCLIPPATH
//   clipping      EXTSELECTCLIPRGN (all modes), INTERSECTCLIPRECT, EXCLUDECLIPRECT,
//                 OFFSETCLIPRGN, SETMETARGN
//   regions       FILLRGN, FRAMERGN, INVERTRGN, PAINTRGN
//   text          EXTTEXTOUTA, EXTTEXTOUTW, POLYTEXTOUTA, POLYTEXTOUTW, SMALLTEXTOUT
//   bitmaps       BITBLT, STRETCHBLT, MASKBLT, STRETCHDIBITS, SETDIBITSTODEVICE, ALPHABLEND,
//                 TRANSPARENTBLT
//   gradients     GRADIENTFILL with rectangles (as 256 solid strips at most)
//   no drawing    HEADER, EOF, GDICOMMENT (nothing to draw: counted as played; an EMF+
//                 comment carries drawing the player does not draw and is counted as skipped)
// Every other record (palettes, colour management, PLGBLT, GRADIENTFILL with triangles,
// EXTFLOODFILL, escapes, OpenGL records, right-to-left layout, text given as glyph numbers
// (ETO_GLYPH_INDEX: only its opaque rectangle is drawn) is skipped and counted in the
// statistics, never drawn wrongly.
//
// Coordinates: the metafile's reference device (szlDevice pixels) is mapped onto the
// destination rectangle through the device context's base transform; the picture frame
// (rclFrame) fills the rectangle. The fixed map modes (MM_LOMETRIC ... MM_TWIPS) measure
// against the reference device (szlDevice pixels on szlMillimeters), so a page recorded in
// millimetres keeps its size wherever it is played. Text is drawn in the graphics mode its
// record carries. The device context's clip region at the start becomes the
// meta region of the playback, so the metafile never draws outside it; the context's state is
// saved before and restored after.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "platform/base/status.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/emf/records.h"

namespace zv::gdi {

struct PlayStats {
  std::size_t records = 0;  // records given to the hook (or played without one)
  std::size_t played = 0;   // records played
  std::size_t skipped = 0;  // records of kinds the player does not draw
  std::map<std::uint32_t, std::size_t> skipped_by_type;
};

class Player;

// The hook: takes the player and one checked record; plays it with player.Play(record) (or a
// changed copy with player.PlayBytes), or skips it by not doing so. A non-OK status stops the
// playback and is given back by Play().
using PlayHook = std::function<Status(Player& player, const emf::Record& record)>;

class Player {
 public:
  // Takes the bytes of an enhanced metafile (kept alive by the caller for the player's life);
  // gives a player after the header checks, or Corruption.
  static Result<Player> Open(std::span<const std::uint8_t> bytes);

  const emf::Header& header() const { return metafile_->header(); }
  const emf::Metafile& metafile() const { return *metafile_; }

  // Plays the whole metafile onto `dc`, its picture frame fitted to `dest` (logical units of
  // `dc`; null: one metafile device pixel per device pixel at the origin), each record given
  // to `hook` when one is set. Gives OK, the first bad record's Corruption, or the hook's
  // error. The device context's state is the same afterwards.
  Status Play(DeviceContext& dc, const RECT* dest, const PlayHook& hook = nullptr);

  // During Play (from the hook): plays one record, checked first. Records of kinds the player
  // does not draw are counted as skipped. Gives Corruption for a bad record.
  Status PlayRecord(const emf::Record& record);
  // The same for a record the caller made or changed (its bytes are checked first).
  Status PlayBytes(std::span<const std::uint8_t> record);

  // During Play: the device context being drawn on.
  DeviceContext& dc() { return *dc_; }
  // The base transform from metafile device pixels to the device's pixels.
  const XFORM& playback_transform() const { return base_; }
  const PlayStats& stats() const { return stats_; }

  // True for the record types PlayRecord draws (the list above).
  static bool IsPlayedType(std::uint32_t type);

 private:
  using Object = std::variant<std::monostate, Pen, Brush, Font>;

  explicit Player(emf::Metafile mf) : metafile_(std::move(mf)) {}
  Status Dispatch(const emf::Record& r);
  Region ToDeviceRegion(const emf::Region& rgn) const;
  const Object* Lookup(win::DWORD ih) const;
  std::optional<Brush> BrushOf(win::DWORD ih) const;

  std::optional<emf::Metafile> metafile_;
  DeviceContext* dc_ = nullptr;
  XFORM base_{1, 0, 0, 1, 0, 0};
  std::vector<Object> handles_;
  int saves_ = 0;  // SaveDC levels the metafile made itself
  PlayStats stats_;
};

// Plays the metafile in `bytes` onto `dc` fitted to `dest` (see Player::Play).
Status PlayMetafile(DeviceContext& dc, std::span<const std::uint8_t> bytes, const RECT* dest,
                    const PlayHook& hook = nullptr, PlayStats* stats = nullptr);

}  // namespace zv::gdi
