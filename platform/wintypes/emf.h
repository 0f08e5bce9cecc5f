// Enhanced metafile records: the header, the common record prefix and the record types.
// The per-record layouts the drawing layer reads and writes are added beside these.
#pragma once

#include <cstddef>

#include "platform/wintypes/gdi.h"
#include "platform/wintypes/wintypes.h"

namespace zv::win {

// Every record begins with its type and its size in bytes (a multiple of 4, at least 8).
struct EMR {
  DWORD iType;
  DWORD nSize;
};
static_assert(sizeof(EMR) == 8);

constexpr DWORD ENHMETA_SIGNATURE = 0x464D4520;  // " EMF"

// The first record of every enhanced metafile. Files written by older systems stop after
// szlMillimeters (88 bytes); the two extensions follow when nSize allows.
struct ENHMETAHEADER {
  DWORD iType;  // EMR_HEADER
  DWORD nSize;
  RECTL rclBounds;  // device units, inclusive
  RECTL rclFrame;   // 0.01 mm, inclusive
  DWORD dSignature;
  DWORD nVersion;
  DWORD nBytes;  // size of the whole metafile
  DWORD nRecords;
  WORD nHandles;  // handle table size, index 0 reserved
  WORD sReserved;
  DWORD nDescription;  // characters (UTF-16) in the description
  DWORD offDescription;
  DWORD nPalEntries;
  SIZEL szlDevice;       // reference device in pixels
  SIZEL szlMillimeters;  // reference device in millimetres
  DWORD cbPixelFormat;   // extension 1
  DWORD offPixelFormat;
  DWORD bOpenGL;
  SIZEL szlMicrometers;  // extension 2
};
static_assert(sizeof(ENHMETAHEADER) == 108);
constexpr DWORD ENHMETAHEADER_BASE_SIZE = 88;

enum EmrType : DWORD {
  EMR_HEADER = 1,
  EMR_POLYBEZIER = 2,
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6,
  EMR_POLYPOLYLINE = 7,
  EMR_POLYPOLYGON = 8,
  EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10,
  EMR_SETVIEWPORTEXTEX = 11,
  EMR_SETVIEWPORTORGEX = 12,
  EMR_SETBRUSHORGEX = 13,
  EMR_EOF = 14,
  EMR_SETPIXELV = 15,
  EMR_SETMAPPERFLAGS = 16,
  EMR_SETMAPMODE = 17,
  EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19,
  EMR_SETROP2 = 20,
  EMR_SETSTRETCHBLTMODE = 21,
  EMR_SETTEXTALIGN = 22,
  EMR_SETCOLORADJUSTMENT = 23,
  EMR_SETTEXTCOLOR = 24,
  EMR_SETBKCOLOR = 25,
  EMR_OFFSETCLIPRGN = 26,
  EMR_MOVETOEX = 27,
  EMR_SETMETARGN = 28,
  EMR_EXCLUDECLIPRECT = 29,
  EMR_INTERSECTCLIPRECT = 30,
  EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ANGLEARC = 41,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_ROUNDRECT = 44,
  EMR_ARC = 45,
  EMR_CHORD = 46,
  EMR_PIE = 47,
  EMR_SELECTPALETTE = 48,
  EMR_CREATEPALETTE = 49,
  EMR_SETPALETTEENTRIES = 50,
  EMR_RESIZEPALETTE = 51,
  EMR_REALIZEPALETTE = 52,
  EMR_EXTFLOODFILL = 53,
  EMR_LINETO = 54,
  EMR_ARCTO = 55,
  EMR_POLYDRAW = 56,
  EMR_SETARCDIRECTION = 57,
  EMR_SETMITERLIMIT = 58,
  EMR_BEGINPATH = 59,
  EMR_ENDPATH = 60,
  EMR_CLOSEFIGURE = 61,
  EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63,
  EMR_STROKEPATH = 64,
  EMR_FLATTENPATH = 65,
  EMR_WIDENPATH = 66,
  EMR_SELECTCLIPPATH = 67,
  EMR_ABORTPATH = 68,
  EMR_GDICOMMENT = 70,
  EMR_FILLRGN = 71,
  EMR_FRAMERGN = 72,
  EMR_INVERTRGN = 73,
  EMR_PAINTRGN = 74,
  EMR_EXTSELECTCLIPRGN = 75,
  EMR_BITBLT = 76,
  EMR_STRETCHBLT = 77,
  EMR_MASKBLT = 78,
  EMR_PLGBLT = 79,
  EMR_SETDIBITSTODEVICE = 80,
  EMR_STRETCHDIBITS = 81,
  EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTA = 83,
  EMR_EXTTEXTOUTW = 84,
  EMR_POLYBEZIER16 = 85,
  EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87,
  EMR_POLYBEZIERTO16 = 88,
  EMR_POLYLINETO16 = 89,
  EMR_POLYPOLYLINE16 = 90,
  EMR_POLYPOLYGON16 = 91,
  EMR_POLYDRAW16 = 92,
  EMR_CREATEMONOBRUSH = 93,
  EMR_CREATEDIBPATTERNBRUSHPT = 94,
  EMR_EXTCREATEPEN = 95,
  EMR_POLYTEXTOUTA = 96,
  EMR_POLYTEXTOUTW = 97,
  EMR_SETICMMODE = 98,
  EMR_CREATECOLORSPACE = 99,
  EMR_SETCOLORSPACE = 100,
  EMR_DELETECOLORSPACE = 101,
  EMR_GLSRECORD = 102,
  EMR_GLSBOUNDEDRECORD = 103,
  EMR_PIXELFORMAT = 104,
  EMR_DRAWESCAPE = 105,
  EMR_EXTESCAPE = 106,
  EMR_SMALLTEXTOUT = 108,
  EMR_FORCEUFIMAPPING = 109,
  EMR_NAMEDESCAPE = 110,
  EMR_COLORCORRECTPALETTE = 111,
  EMR_SETICMPROFILEA = 112,
  EMR_SETICMPROFILEW = 113,
  EMR_ALPHABLEND = 114,
  EMR_SETLAYOUT = 115,
  EMR_TRANSPARENTBLT = 116,
  EMR_GRADIENTFILL = 118,
  EMR_SETLINKEDUFIS = 119,
  EMR_SETTEXTJUSTIFICATION = 120,
  EMR_COLORMATCHTOTARGETW = 121,
  EMR_CREATECOLORSPACEW = 122,
};

// The comment record: a byte count and then the caller's bytes.
struct EMRGDICOMMENT_HEAD {
  EMR emr;
  DWORD cbData;
  // BYTE Data[cbData] follows
};
static_assert(sizeof(EMRGDICOMMENT_HEAD) == 12);

// ---------------------------------------------------------------------------------------------
// Values that the records carry beyond the drawing constants of gdi.h.

// The highest stock object number (DC_PEN); 9 is unused.
constexpr DWORD STOCK_LAST = 19;

// Graphics modes (ExtTextOut records).
constexpr DWORD GM_COMPATIBLE = 1;
constexpr DWORD GM_ADVANCED = 2;

// More ExtTextOut options that only metafile records carry.
constexpr UINT ETO_SMALL_CHARS = 0x0200;  // EMR_SMALLTEXTOUT text is 8-bit
constexpr UINT ETO_IGNORELANGUAGE = 0x1000;

// Identifiers at the start of public comment payloads.
constexpr DWORD GDICOMMENT_IDENTIFIER = 0x43494447;  // "GDIC"
constexpr DWORD EMR_COMMENT_EMFPLUS = 0x2B464D45;    // "EMF+"
constexpr DWORD GDICOMMENT_BEGINGROUP = 0x00000002;
constexpr DWORD GDICOMMENT_ENDGROUP = 0x00000003;
constexpr DWORD GDICOMMENT_MULTIFORMATS = 0x40000004;

// ---------------------------------------------------------------------------------------------
// Objects embedded in records.

struct PANOSE {
  BYTE bFamilyType, bSerifStyle, bWeight, bProportion, bContrast, bStrokeVariation, bArmStyle, bLetterform, bMidline,
      bXHeight;
};
static_assert(sizeof(PANOSE) == 10);

constexpr int LF_FULLFACESIZE = 64;
constexpr int ELF_VENDOR_SIZE = 4;

struct EXTLOGFONTW {
  LOGFONTW elfLogFont;
  WCHAR elfFullName[LF_FULLFACESIZE];
  WCHAR elfStyle[LF_FACESIZE];
  DWORD elfVersion;
  DWORD elfStyleSize;
  DWORD elfMatch;
  DWORD elfReserved;
  BYTE elfVendorId[ELF_VENDOR_SIZE];
  DWORD elfCulture;
  PANOSE elfPanose;
  WORD elfPadding;
};
static_assert(sizeof(EXTLOGFONTW) == 320);

// Text of EMR_EXTTEXTOUTA/W and EMR_POLYTEXTOUTA/W. Offsets count from the start of the record.
// With ETO_NO_RECT in fOptions the rectangle is absent and offDx follows fOptions directly.
struct EMRTEXT {
  POINTL ptlReference;
  DWORD nChars;
  DWORD offString;
  DWORD fOptions;
  RECTL rcl;
  DWORD offDx;
};
static_assert(sizeof(EMRTEXT) == 40);

// ---------------------------------------------------------------------------------------------
// Records. A name ending in _HEAD is the fixed part of a record whose variable part follows it;
// the comment says what follows. Every other record has exactly the size asserted (files may
// carry padding behind it).

// EMR_POLYBEZIER, EMR_POLYGON, EMR_POLYLINE, EMR_POLYBEZIERTO, EMR_POLYLINETO:
// POINTL aptl[cptl] follows.
struct EMRPOLYLINE_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD cptl;
};
static_assert(sizeof(EMRPOLYLINE_HEAD) == 28);

// The 16-bit forms (EMR_POLYBEZIER16 ... EMR_POLYLINETO16): POINTS apts[cpts] follows.
struct EMRPOLYLINE16_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD cpts;
};
static_assert(sizeof(EMRPOLYLINE16_HEAD) == 28);

// EMR_POLYPOLYLINE, EMR_POLYPOLYGON: DWORD aPolyCounts[nPolys], then POINTL aptl[cptl].
// The 16-bit forms carry POINTS instead.
struct EMRPOLYPOLYLINE_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD nPolys;
  DWORD cptl;
};
static_assert(sizeof(EMRPOLYPOLYLINE_HEAD) == 32);

// EMR_POLYDRAW: POINTL aptl[cptl], then BYTE abTypes[cptl]. EMR_POLYDRAW16 carries POINTS.
struct EMRPOLYDRAW_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD cptl;
};
static_assert(sizeof(EMRPOLYDRAW_HEAD) == 28);

// EMR_SETWINDOWEXTEX, EMR_SETVIEWPORTEXTEX.
struct EMRSETVIEWPORTEXTEX {
  EMR emr;
  SIZEL szlExtent;
};
static_assert(sizeof(EMRSETVIEWPORTEXTEX) == 16);
using EMRSETWINDOWEXTEX = EMRSETVIEWPORTEXTEX;

// EMR_SETWINDOWORGEX, EMR_SETVIEWPORTORGEX, EMR_SETBRUSHORGEX.
struct EMRSETVIEWPORTORGEX {
  EMR emr;
  POINTL ptlOrigin;
};
static_assert(sizeof(EMRSETVIEWPORTORGEX) == 16);
using EMRSETWINDOWORGEX = EMRSETVIEWPORTORGEX;
using EMRSETBRUSHORGEX = EMRSETVIEWPORTORGEX;

struct EMREOF {
  EMR emr;
  DWORD nPalEntries;
  DWORD offPalEntries;
  DWORD nSizeLast;  // equals emr.nSize
};
static_assert(sizeof(EMREOF) == 20);

struct EMRSETPIXELV {
  EMR emr;
  POINTL ptlPixel;
  COLORREF crColor;
};
static_assert(sizeof(EMRSETPIXELV) == 20);

struct EMRSETMAPPERFLAGS {
  EMR emr;
  DWORD dwFlags;
};
static_assert(sizeof(EMRSETMAPPERFLAGS) == 12);

// EMR_SETMAPMODE, EMR_SETBKMODE, EMR_SETPOLYFILLMODE, EMR_SETROP2, EMR_SETSTRETCHBLTMODE,
// EMR_SETTEXTALIGN, EMR_SETICMMODE, EMR_SETLAYOUT, EMR_SETARCDIRECTION, EMR_SELECTCLIPPATH.
struct EMRSETMAPMODE {
  EMR emr;
  DWORD iMode;
};
static_assert(sizeof(EMRSETMAPMODE) == 12);
using EMRSETBKMODE = EMRSETMAPMODE;
using EMRSETPOLYFILLMODE = EMRSETMAPMODE;
using EMRSETROP2 = EMRSETMAPMODE;
using EMRSETSTRETCHBLTMODE = EMRSETMAPMODE;
using EMRSETTEXTALIGN = EMRSETMAPMODE;
using EMRSETICMMODE = EMRSETMAPMODE;
using EMRSETLAYOUT = EMRSETMAPMODE;
using EMRSETARCDIRECTION = EMRSETMAPMODE;
using EMRSELECTCLIPPATH = EMRSETMAPMODE;

// EMR_SETTEXTCOLOR, EMR_SETBKCOLOR.
struct EMRSETTEXTCOLOR {
  EMR emr;
  COLORREF crColor;
};
static_assert(sizeof(EMRSETTEXTCOLOR) == 12);
using EMRSETBKCOLOR = EMRSETTEXTCOLOR;

struct EMROFFSETCLIPRGN {
  EMR emr;
  POINTL ptlOffset;
};
static_assert(sizeof(EMROFFSETCLIPRGN) == 16);

// EMR_MOVETOEX, EMR_LINETO.
struct EMRMOVETOEX {
  EMR emr;
  POINTL ptl;
};
static_assert(sizeof(EMRMOVETOEX) == 16);
using EMRLINETO = EMRMOVETOEX;

// Records without parameters: EMR_SETMETARGN, EMR_SAVEDC, EMR_REALIZEPALETTE, EMR_BEGINPATH,
// EMR_ENDPATH, EMR_CLOSEFIGURE, EMR_FLATTENPATH, EMR_WIDENPATH, EMR_ABORTPATH.
struct EMRSETMETARGN {
  EMR emr;
};
static_assert(sizeof(EMRSETMETARGN) == 8);
using EMRSAVEDC = EMRSETMETARGN;
using EMRREALIZEPALETTE = EMRSETMETARGN;
using EMRBEGINPATH = EMRSETMETARGN;
using EMRENDPATH = EMRSETMETARGN;
using EMRCLOSEFIGURE = EMRSETMETARGN;
using EMRFLATTENPATH = EMRSETMETARGN;
using EMRWIDENPATH = EMRSETMETARGN;
using EMRABORTPATH = EMRSETMETARGN;

// EMR_EXCLUDECLIPRECT, EMR_INTERSECTCLIPRECT (logical units).
struct EMREXCLUDECLIPRECT {
  EMR emr;
  RECTL rclClip;
};
static_assert(sizeof(EMREXCLUDECLIPRECT) == 24);
using EMRINTERSECTCLIPRECT = EMREXCLUDECLIPRECT;

// EMR_SCALEVIEWPORTEXTEX, EMR_SCALEWINDOWEXTEX.
struct EMRSCALEVIEWPORTEXTEX {
  EMR emr;
  LONG xNum, xDenom, yNum, yDenom;
};
static_assert(sizeof(EMRSCALEVIEWPORTEXTEX) == 24);
using EMRSCALEWINDOWEXTEX = EMRSCALEVIEWPORTEXTEX;

struct EMRRESTOREDC {
  EMR emr;
  LONG iRelative;  // negative: relative to the current level
};
static_assert(sizeof(EMRRESTOREDC) == 12);

struct EMRSETWORLDTRANSFORM {
  EMR emr;
  XFORM xform;
};
static_assert(sizeof(EMRSETWORLDTRANSFORM) == 32);

struct EMRMODIFYWORLDTRANSFORM {
  EMR emr;
  XFORM xform;
  DWORD iMode;  // MWT_*
};
static_assert(sizeof(EMRMODIFYWORLDTRANSFORM) == 36);

// EMR_SELECTOBJECT, EMR_DELETEOBJECT: a handle index or a stock object.
struct EMRSELECTOBJECT {
  EMR emr;
  DWORD ihObject;
};
static_assert(sizeof(EMRSELECTOBJECT) == 12);
using EMRDELETEOBJECT = EMRSELECTOBJECT;

struct EMRSELECTPALETTE {
  EMR emr;
  DWORD ihPal;
};
static_assert(sizeof(EMRSELECTPALETTE) == 12);

// EMR_CREATEPALETTE: a LOGPALETTE (version, count, then count 4-byte entries).
struct EMRCREATEPALETTE_HEAD {
  EMR emr;
  DWORD ihPal;
  WORD palVersion;
  WORD palNumEntries;
};
static_assert(sizeof(EMRCREATEPALETTE_HEAD) == 16);

struct EMRCREATEPEN {
  EMR emr;
  DWORD ihPen;
  LOGPEN lopn;
};
static_assert(sizeof(EMRCREATEPEN) == 28);

// EMR_EXTCREATEPEN: DWORD style entries follow elp; a pattern bitmap lies at offBmi/offBits.
struct EMREXTCREATEPEN_HEAD {
  EMR emr;
  DWORD ihPen;
  DWORD offBmi;
  DWORD cbBmi;
  DWORD offBits;
  DWORD cbBits;
  EXTLOGPEN32 elp;
};
static_assert(sizeof(EMREXTCREATEPEN_HEAD) == 52);

struct EMRCREATEBRUSHINDIRECT {
  EMR emr;
  DWORD ihBrush;
  LOGBRUSH32 lb;
};
static_assert(sizeof(EMRCREATEBRUSHINDIRECT) == 24);

// EMR_CREATEDIBPATTERNBRUSHPT, EMR_CREATEMONOBRUSH: the bitmap lies at offBmi/offBits.
struct EMRCREATEDIBPATTERNBRUSHPT {
  EMR emr;
  DWORD ihBrush;
  DWORD iUsage;  // DIB_RGB_COLORS or DIB_PAL_COLORS
  DWORD offBmi;
  DWORD cbBmi;
  DWORD offBits;
  DWORD cbBits;
};
static_assert(sizeof(EMRCREATEDIBPATTERNBRUSHPT) == 32);
using EMRCREATEMONOBRUSH = EMRCREATEDIBPATTERNBRUSHPT;

// EMR_EXTCREATEFONTINDIRECTW: writers put either a bare LOGFONTW (104 bytes in all) or a
// longer font description that begins with one; both start like this.
struct EMREXTCREATEFONTINDIRECTW_HEAD {
  EMR emr;
  DWORD ihFont;
  LOGFONTW elfw;
};
static_assert(sizeof(EMREXTCREATEFONTINDIRECTW_HEAD) == 104);

// The long form with EXTLOGFONTW.
struct EMREXTCREATEFONTINDIRECTW {
  EMR emr;
  DWORD ihFont;
  EXTLOGFONTW elfw;
};
static_assert(sizeof(EMREXTCREATEFONTINDIRECTW) == 332);

struct EMRANGLEARC {
  EMR emr;
  POINTL ptlCenter;
  DWORD nRadius;
  float eStartAngle;
  float eSweepAngle;
};
static_assert(sizeof(EMRANGLEARC) == 28);

// EMR_ELLIPSE, EMR_RECTANGLE (logical units, inclusive-exclusive like the GDI calls).
struct EMRELLIPSE {
  EMR emr;
  RECTL rclBox;
};
static_assert(sizeof(EMRELLIPSE) == 24);
using EMRRECTANGLE = EMRELLIPSE;

struct EMRROUNDRECT {
  EMR emr;
  RECTL rclBox;
  SIZEL szlCorner;
};
static_assert(sizeof(EMRROUNDRECT) == 32);

// EMR_ARC, EMR_ARCTO, EMR_CHORD, EMR_PIE.
struct EMRARC {
  EMR emr;
  RECTL rclBox;
  POINTL ptlStart;
  POINTL ptlEnd;
};
static_assert(sizeof(EMRARC) == 40);
using EMRARCTO = EMRARC;
using EMRCHORD = EMRARC;
using EMRPIE = EMRARC;

struct EMREXTFLOODFILL {
  EMR emr;
  POINTL ptlStart;
  COLORREF crColor;
  DWORD iMode;
};
static_assert(sizeof(EMREXTFLOODFILL) == 24);

struct EMRSETMITERLIMIT {
  EMR emr;
  float eMiterLimit;
};
static_assert(sizeof(EMRSETMITERLIMIT) == 12);

// EMR_FILLPATH, EMR_STROKEANDFILLPATH, EMR_STROKEPATH.
struct EMRFILLPATH {
  EMR emr;
  RECTL rclBounds;
};
static_assert(sizeof(EMRFILLPATH) == 24);
using EMRSTROKEANDFILLPATH = EMRFILLPATH;
using EMRSTROKEPATH = EMRFILLPATH;

// EMR_FILLRGN: region data (cbRgnData bytes) follows.
struct EMRFILLRGN_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD cbRgnData;
  DWORD ihBrush;
};
static_assert(sizeof(EMRFILLRGN_HEAD) == 32);

// EMR_FRAMERGN: region data follows.
struct EMRFRAMERGN_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD cbRgnData;
  DWORD ihBrush;
  SIZEL szlStroke;
};
static_assert(sizeof(EMRFRAMERGN_HEAD) == 40);

// EMR_INVERTRGN, EMR_PAINTRGN: region data follows.
struct EMRINVERTRGN_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD cbRgnData;
};
static_assert(sizeof(EMRINVERTRGN_HEAD) == 28);
using EMRPAINTRGN_HEAD = EMRINVERTRGN_HEAD;

// EMR_EXTSELECTCLIPRGN: region data (device units) follows; with RGN_COPY and no data the clip
// region is reset to the default.
struct EMREXTSELECTCLIPRGN_HEAD {
  EMR emr;
  DWORD cbRgnData;
  DWORD iMode;
};
static_assert(sizeof(EMREXTSELECTCLIPRGN_HEAD) == 16);

// Blit records: the source bitmap (when the raster operation uses one) lies at offBmiSrc and
// offBitsSrc, counted from the start of the record.
struct EMRBITBLT {
  EMR emr;
  RECTL rclBounds;
  LONG xDest, yDest, cxDest, cyDest;
  DWORD dwRop;
  LONG xSrc, ySrc;
  XFORM xformSrc;
  COLORREF crBkColorSrc;
  DWORD iUsageSrc;
  DWORD offBmiSrc;
  DWORD cbBmiSrc;
  DWORD offBitsSrc;
  DWORD cbBitsSrc;
};
static_assert(sizeof(EMRBITBLT) == 100);

struct EMRSTRETCHBLT {
  EMR emr;
  RECTL rclBounds;
  LONG xDest, yDest, cxDest, cyDest;
  DWORD dwRop;
  LONG xSrc, ySrc;
  XFORM xformSrc;
  COLORREF crBkColorSrc;
  DWORD iUsageSrc;
  DWORD offBmiSrc;
  DWORD cbBmiSrc;
  DWORD offBitsSrc;
  DWORD cbBitsSrc;
  LONG cxSrc, cySrc;
};
static_assert(sizeof(EMRSTRETCHBLT) == 108);

// EMR_ALPHABLEND and EMR_TRANSPARENTBLT share the stretch layout: in the first dwRop holds the
// BLENDFUNCTION (op, flags, constant alpha, alpha format from the low byte up), in the second
// the transparent colour.
using EMRALPHABLEND = EMRSTRETCHBLT;
using EMRTRANSPARENTBLT = EMRSTRETCHBLT;

struct EMRMASKBLT {
  EMR emr;
  RECTL rclBounds;
  LONG xDest, yDest, cxDest, cyDest;
  DWORD dwRop;
  LONG xSrc, ySrc;
  XFORM xformSrc;
  COLORREF crBkColorSrc;
  DWORD iUsageSrc;
  DWORD offBmiSrc;
  DWORD cbBmiSrc;
  DWORD offBitsSrc;
  DWORD cbBitsSrc;
  LONG xMask, yMask;
  DWORD iUsageMask;
  DWORD offBmiMask;
  DWORD cbBmiMask;
  DWORD offBitsMask;
  DWORD cbBitsMask;
};
static_assert(sizeof(EMRMASKBLT) == 128);

struct EMRPLGBLT {
  EMR emr;
  RECTL rclBounds;
  POINTL aptlDest[3];
  LONG xSrc, ySrc, cxSrc, cySrc;
  XFORM xformSrc;
  COLORREF crBkColorSrc;
  DWORD iUsageSrc;
  DWORD offBmiSrc;
  DWORD cbBmiSrc;
  DWORD offBitsSrc;
  DWORD cbBitsSrc;
  LONG xMask, yMask;
  DWORD iUsageMask;
  DWORD offBmiMask;
  DWORD cbBmiMask;
  DWORD offBitsMask;
  DWORD cbBitsMask;
};
static_assert(sizeof(EMRPLGBLT) == 140);

// EMR_SETDIBITSTODEVICE: the bits hold cScans rows starting at scan line iStartScan.
struct EMRSETDIBITSTODEVICE {
  EMR emr;
  RECTL rclBounds;
  LONG xDest, yDest;
  LONG xSrc, ySrc;
  LONG cxSrc, cySrc;
  DWORD offBmiSrc;
  DWORD cbBmiSrc;
  DWORD offBitsSrc;
  DWORD cbBitsSrc;
  DWORD iUsageSrc;
  DWORD iStartScan;
  DWORD cScans;
};
static_assert(sizeof(EMRSETDIBITSTODEVICE) == 76);

struct EMRSTRETCHDIBITS {
  EMR emr;
  RECTL rclBounds;
  LONG xDest, yDest;
  LONG xSrc, ySrc;
  LONG cxSrc, cySrc;
  DWORD offBmiSrc;
  DWORD cbBmiSrc;
  DWORD offBitsSrc;
  DWORD cbBitsSrc;
  DWORD iUsageSrc;
  DWORD dwRop;
  LONG cxDest, cyDest;
};
static_assert(sizeof(EMRSTRETCHDIBITS) == 80);

// EMR_EXTTEXTOUTA, EMR_EXTTEXTOUTW: the characters and advances lie where emrtext says.
struct EMREXTTEXTOUTW {
  EMR emr;
  RECTL rclBounds;
  DWORD iGraphicsMode;
  float exScale;
  float eyScale;
  EMRTEXT emrtext;
};
static_assert(sizeof(EMREXTTEXTOUTW) == 76);
using EMREXTTEXTOUTA = EMREXTTEXTOUTW;

// EMR_POLYTEXTOUTA, EMR_POLYTEXTOUTW: EMRTEXT aemrtext[cStrings] follows.
struct EMRPOLYTEXTOUTW_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD iGraphicsMode;
  float exScale;
  float eyScale;
  LONG cStrings;
};
static_assert(sizeof(EMRPOLYTEXTOUTW_HEAD) == 40);
using EMRPOLYTEXTOUTA_HEAD = EMRPOLYTEXTOUTW_HEAD;

// EMR_SMALLTEXTOUT: a RECTL clip rectangle follows unless fuOptions has ETO_NO_RECT, then the
// cChars characters: 8-bit with ETO_SMALL_CHARS, else UTF-16.
struct EMRSMALLTEXTOUT_HEAD {
  EMR emr;
  LONG x, y;
  DWORD cChars;
  DWORD fuOptions;
  DWORD iGraphicsMode;
  float exScale;
  float eyScale;
};
static_assert(sizeof(EMRSMALLTEXTOUT_HEAD) == 36);

struct EMRSETTEXTJUSTIFICATION {
  EMR emr;
  LONG nBreakExtra;
  LONG nBreakCount;
};
static_assert(sizeof(EMRSETTEXTJUSTIFICATION) == 16);

// EMR_GRADIENTFILL: TRIVERTEX Ver[nVer], then nTri GRADIENT_TRIANGLE (12 bytes) or
// GRADIENT_RECT (8 bytes) by ulMode.
struct EMRGRADIENTFILL_HEAD {
  EMR emr;
  RECTL rclBounds;
  DWORD nVer;
  DWORD nTri;
  DWORD ulMode;
};
static_assert(sizeof(EMRGRADIENTFILL_HEAD) == 36);

struct TRIVERTEX {
  LONG x, y;
  WORD Red, Green, Blue, Alpha;
};
static_assert(sizeof(TRIVERTEX) == 16);
constexpr DWORD GRADIENT_FILL_RECT_H = 0;
constexpr DWORD GRADIENT_FILL_RECT_V = 1;
constexpr DWORD GRADIENT_FILL_TRIANGLE = 2;

// Field positions that readers and other writers rely on.
static_assert(offsetof(ENHMETAHEADER, nBytes) == 48);
static_assert(offsetof(ENHMETAHEADER, nRecords) == 52);
static_assert(offsetof(ENHMETAHEADER, szlDevice) == 72);
static_assert(offsetof(EMRBITBLT, xformSrc) == 52);
static_assert(offsetof(EMRBITBLT, offBmiSrc) == 84);
static_assert(offsetof(EMRSTRETCHDIBITS, offBmiSrc) == 48);
static_assert(offsetof(EMRSTRETCHDIBITS, dwRop) == 68);
static_assert(offsetof(EMRSETDIBITSTODEVICE, iStartScan) == 68);
static_assert(offsetof(EMREXTTEXTOUTW, emrtext) == 36);
static_assert(offsetof(EMRTEXT, rcl) == 20);
static_assert(offsetof(EMRMASKBLT, xMask) == 100);
static_assert(offsetof(EMREXTCREATEPEN_HEAD, elp) == 28);

}  // namespace zv::win
