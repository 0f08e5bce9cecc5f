#include "printing/render_sheet.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "platform/codepage/codepage.h"
#include "platform/gdi/dc.h"

namespace zv::printing {

namespace {

// The header and footer font: the stored face and style at the point size on this device.
// None when the stored face name is not valid text.
std::optional<gdi::Font> MakeHeaderFont(const win::LOGFONTA& a, int points, int dpi_y) {
  // -MulDiv(points, dpi, 72): rounded to the nearest.
  const long long num = static_cast<long long>(points) * dpi_y;
  const int height = -static_cast<int>((num >= 0 ? num + 36 : num - 36) / 72);
  return gdi::FontFromLogFontA(a, height, /*substitute=*/false);
}

std::u16string Wide(const std::string& text) {
  auto w = codepage::Utf8ToUtf16(text, codepage::OnError::kSubstitute);
  return w.ok() ? *w : std::u16string();
}

std::optional<win::SIZE> Measure(gdi::DeviceContext& dc, const std::string& text) {
  if (text.empty()) return std::nullopt;
  win::SIZE size{0, 0};
  if (!dc.GetTextExtentPoint32W(Wide(text), &size)) return win::SIZE{0, 0};
  return size;
}

}  // namespace

void DrawSeparatorLine(gdi::DeviceContext& dc, int horzres, int vertres, win::POINT from, win::POINT to) {
  auto clamp = [&](win::POINT p) {
    p.x = std::clamp<int>(p.x, 0, std::max(0, horzres - 1));
    p.y = std::clamp<int>(p.y, 0, std::max(0, vertres - 1));
    return p;
  };
  from = clamp(from);
  to = clamp(to);
  gdi::Pen pen;
  pen.style = win::PS_SOLID;
  pen.width = 1;
  pen.color = 0;
  gdi::Pen old = dc.SelectPen(pen);
  win::POINT cp{};
  dc.MoveToEx(from.x, from.y, &cp);
  dc.LineTo(to.x, to.y);
  dc.MoveToEx(cp.x, cp.y);
  dc.SelectPen(old);
}

int RenderSheet(PrintDocument& doc, PrinterDevice& device, int first_page, int last_page, int mode,
                const SheetSettings& settings, SheetObserver* observer) {
  SheetObserver quiet;
  SheetObserver& notify = observer ? *observer : quiet;
  const unsigned first = static_cast<std::uint16_t>(first_page);
  const unsigned last = static_cast<std::uint16_t>(last_page);
  if (!IsLayoutMode(mode) || first == 0 || first - 1 >= last) return 0;
  // Pages beyond the document are never drawn.
  const int end = std::min<int>(static_cast<int>(last), doc.page_count());
  if (static_cast<int>(first) - 1 >= end) return 0;

  RunState& run = doc.run();
  const HeaderFooter hf = doc.header_footer();
  const spool::PageGeometry g = device.geometry();
  const int per_side = PagesPerSide(mode);

  // The texts are measured on the first side's device context, with the header font.
  std::optional<gdi::Font> font = MakeHeaderFont(hf.font, hf.points, g.logpixels_y);
  bool font_reported = false;
  std::array<std::optional<win::SIZE>, 6> extents;
  HeaderFooterPlacement place;
  bool measured = false;

  int sides = 0;
  for (int counter = static_cast<int>(first) - 1; counter < end; counter += per_side) {
    const int shown = PageNumberShown(mode, hf.rule, run.anchor, sides, counter, run.numbering_base);
    notify.SetPageLabel(PageLabel(shown, run.label_total));
    notify.SetProgress(ProgressPosition(run.label_total, shown));

    auto started = device.StartPage();
    if (!started.ok()) break;
    gdi::DeviceContext& dc = **started;
    if (font) {
      dc.SelectFont(*font);
    } else if (!font_reported) {
      notify.ShowMessage(kFontFailedMessage);
      font_reported = true;
    }
    if (!measured) {
      for (int i = 0; i < 6; ++i) extents[i] = Measure(dc, hf.texts[i]);
      place = PlaceHeaderFooter(g.horzres, g.vertres, extents);
      run.header_height = place.header_height;
      run.footer_height = place.footer_height;
      measured = true;
    }

    const SidePlan plan = PlanSide(mode, g, settings, run.header_height, run.footer_height, counter, end);
    for (const CellPlacement& cell : plan.cells) {
      if (cell.page < 0 || cell.page >= doc.page_count()) continue;
      const int level = dc.SaveDC();
      doc.RenderPage(dc, cell.resolution, cell.page, cell.rect);
      if (level > 0) dc.RestoreDC(level);
    }
    for (const SeparatorLine& line : plan.lines) {
      DrawSeparatorLine(dc, g.horzres, g.vertres, line.from, line.to);
    }

    if (HeaderFooterOnSide(hf.rule, shown, static_cast<int>(first), run.numbering_base)) {
      dc.SetBkMode(win::TRANSPARENT);
      dc.SetTextAlign(0);
      for (int i = 0; i < 6; ++i) {
        std::string text = hf.texts[i];
        win::POINT at = place.at[i];
        std::string replaced;
        if (doc.ReplacePagePlaceholders(text, shown, run.label_total, &replaced)) {
          text = std::move(replaced);
          if (auto size = Measure(dc, text); size && i % 3 != 0) {
            at.x = TextX(i, size->cx, g.horzres);
          }
        }
        if (!text.empty()) dc.TextOutW(at.x, at.y, Wide(text));
      }
    }
    // A failed page is kept by the device and returned by its EndDoc.
    (void)device.EndPage();
    ++sides;
  }
  return sides;
}

}  // namespace zv::printing
