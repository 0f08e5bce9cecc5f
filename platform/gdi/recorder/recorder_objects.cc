// The recorder's object table: pens, brushes and fonts get handle indices and create records
// the first time they are selected.
#include "platform/gdi/recorder/recorder_internal.h"

namespace zv::gdi {

bool MetafileRecorder::Impl::Held(DWORD ih) const {
  if (st.pen_ih == ih || st.brush_ih == ih || st.font_ih == ih) return true;
  return std::any_of(saved.begin(), saved.end(),
                     [ih](const State& s) { return s.pen_ih == ih || s.brush_ih == ih || s.font_ih == ih; });
}

DWORD MetafileRecorder::Impl::FreeSlot() {
  for (DWORD i = 1; i < slots.size(); ++i) {
    if (slots[i].kind == Kind::kNone) return i;
  }
  // The header's nHandles is 16 bits and counts the reserved index 0, so 0xFFFE is the last.
  if (slots.size() >= 0xFFFF) return 0;
  slots.emplace_back();
  return DWORD(slots.size() - 1);
}

Bytes MetafileRecorder::Impl::DibBytes(const Dib& d, std::size_t* info_size) const {
  Bytes out(d.info.begin(), d.info.end());
  *info_size = out.size();
  Pad4(out);
  PutSpan(out, d.bits);
  return out;
}

bool MetafileRecorder::Impl::CreateRecord(DWORD ih, const Slot& s) {
  if (s.kind == Kind::kPen) {
    const Pen& p = s.pen;
    if (!p.extended) return EmitFixed(EMRCREATEPEN{{EMR_CREATEPEN, 0}, ih, LOGPEN{p.style, {p.width, 0}, p.color}});
    EMREXTCREATEPEN_HEAD h{};
    h.emr.iType = EMR_EXTCREATEPEN;
    h.ihPen = ih;
    h.elp = EXTLOGPEN32{p.style, DWORD(p.width), p.brush_style, p.color, p.hatch, DWORD(p.style_entries.size())};
    Bytes tail;
    for (DWORD e : p.style_entries) PutBytes(tail, e);
    if (p.pattern) {
      std::size_t info = 0;
      Bytes dib = DibBytes(*p.pattern, &info);
      h.offBmi = DWORD(sizeof(h) + tail.size());
      h.cbBmi = DWORD(info);
      h.offBits = h.offBmi + DWORD((info + 3) & ~std::size_t(3));
      h.cbBits = DWORD(p.pattern->bits.size());
      PutSpan(tail, dib);
    }
    return EmitFixed(h, tail);
  }
  if (s.kind == Kind::kBrush) {
    const Brush& b = s.brush;
    if ((b.style == BS_DIBPATTERN || b.style == BS_DIBPATTERNPT || b.style == BS_PATTERN) && b.pattern) {
      EMRCREATEDIBPATTERNBRUSHPT h{};
      h.emr.iType = EMR_CREATEDIBPATTERNBRUSHPT;
      h.ihBrush = ih;
      h.iUsage = b.pattern->usage;
      std::size_t info = 0;
      Bytes dib = DibBytes(*b.pattern, &info);
      h.offBmi = sizeof(h);
      h.cbBmi = DWORD(info);
      h.offBits = DWORD(sizeof(h) + ((info + 3) & ~std::size_t(3)));
      h.cbBits = DWORD(b.pattern->bits.size());
      return EmitFixed(h, dib);
    }
    return EmitFixed(EMRCREATEBRUSHINDIRECT{{EMR_CREATEBRUSHINDIRECT, 0}, ih, LOGBRUSH32{b.style, b.color, b.hatch}});
  }
  EMREXTCREATEFONTINDIRECTW f{};
  f.emr.iType = EMR_EXTCREATEFONTINDIRECTW;
  f.ihFont = ih;
  f.elfw.elfLogFont = s.font.lf;
  return EmitFixed(f);
}

bool MetafileRecorder::Impl::Same(const Slot& s, Kind kind, const Pen* p, const Brush* b, const Font* f) {
  if (s.kind != kind) return false;
  if (kind == Kind::kPen) return s.pen == *p;
  if (kind == Kind::kBrush) return s.brush == *b;
  return s.font == *f;
}

DWORD MetafileRecorder::Impl::Obtain(Kind kind, const Pen* p, const Brush* b, const Font* f) {
  if (kind == Kind::kPen) {
    for (int i : {BLACK_PEN, WHITE_PEN, NULL_PEN}) {
      if (*StockPen(i) == *p) return ENHMETA_STOCK_OBJECT | DWORD(i);
    }
  } else if (kind == Kind::kBrush) {
    for (int i = WHITE_BRUSH; i <= NULL_BRUSH; ++i) {
      if (*StockBrush(i) == *b) return ENHMETA_STOCK_OBJECT | DWORD(i);
    }
  } else {
    for (int i : {SYSTEM_FONT, DEFAULT_GUI_FONT, DEVICE_DEFAULT_FONT, SYSTEM_FIXED_FONT, OEM_FIXED_FONT,
                  ANSI_FIXED_FONT, ANSI_VAR_FONT}) {
      if (*StockFont(i) == *f) return ENHMETA_STOCK_OBJECT | DWORD(i);
    }
  }
  for (DWORD i = 1; i < slots.size(); ++i) {
    if (Same(slots[i], kind, p, b, f)) return i;
  }
  const DWORD ih = FreeSlot();
  if (ih == 0) return 0;
  Slot s;
  s.kind = kind;
  if (p) s.pen = *p;
  if (b) s.brush = *b;
  if (f) s.font = *f;
  if (!CreateRecord(ih, s)) return 0;
  slots[ih] = std::move(s);
  return ih;
}

void MetafileRecorder::Impl::Collect(Kind kind) {
  std::vector<DWORD> unused;
  for (DWORD i = 1; i < slots.size(); ++i) {
    if (slots[i].kind == kind && !Held(i)) unused.push_back(i);
  }
  if (unused.size() <= std::size_t(kKeepUnused)) return;
  for (DWORD i : unused) {
    if (EmitFixed(EMRDELETEOBJECT{{EMR_DELETEOBJECT, 0}, i})) slots[i] = Slot{};
  }
}

// ---- Objects ----

Pen MetafileRecorder::SelectPen(const Pen& pen) {
  Impl& m = *impl_;
  const DWORD ih = m.Obtain(Kind::kPen, &pen, nullptr, nullptr);
  if (ih == 0 || !m.Select(ih)) return m.st.pen;
  Pen old = std::exchange(m.st.pen, pen);
  m.st.pen_ih = ih;
  m.Collect(Kind::kPen);
  return old;
}
Brush MetafileRecorder::SelectBrush(const Brush& brush) {
  Impl& m = *impl_;
  const DWORD ih = m.Obtain(Kind::kBrush, nullptr, &brush, nullptr);
  if (ih == 0 || !m.Select(ih)) return m.st.brush;
  Brush old = std::exchange(m.st.brush, brush);
  m.st.brush_ih = ih;
  m.Collect(Kind::kBrush);
  return old;
}
Font MetafileRecorder::SelectFont(const Font& font) {
  Impl& m = *impl_;
  const DWORD ih = m.Obtain(Kind::kFont, nullptr, nullptr, &font);
  if (ih == 0 || !m.Select(ih)) return m.st.font;
  Font old = std::exchange(m.st.font, font);
  m.st.font_ih = ih;
  m.Collect(Kind::kFont);
  return old;
}
bool MetafileRecorder::SelectStockObject(int index) {
  Impl& m = *impl_;
  const DWORD ih = ENHMETA_STOCK_OBJECT | DWORD(index);
  if (auto p = StockPen(index)) {
    if (!m.Select(ih)) return false;
    m.st.pen = *p;
    m.st.pen_ih = ih;
  } else if (auto b = StockBrush(index)) {
    if (!m.Select(ih)) return false;
    m.st.brush = *b;
    m.st.brush_ih = ih;
  } else if (auto f = StockFont(index)) {
    if (!m.Select(ih)) return false;
    m.st.font = *f;
    m.st.font_ih = ih;
  } else {
    return false;
  }
  return true;
}
Pen MetafileRecorder::GetCurrentPen() const { return impl_->st.pen; }
Brush MetafileRecorder::GetCurrentBrush() const { return impl_->st.brush; }
Font MetafileRecorder::GetCurrentFont() const { return impl_->st.font; }

}  // namespace zv::gdi
