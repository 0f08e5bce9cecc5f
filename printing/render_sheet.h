// The sheet renderer: prints a run of a document's pages on a printer device, side by side,
// in one of the layout modes 0, 2, 3, 4, 8, 12 and 13, with the header and footer texts and
// their page numbers, separator lines and the progress notices.
#pragma once

#include <string_view>

#include "printing/print_document.h"
#include "printing/printer_dc.h"
#include "printing/sheet_math.h"

namespace zv::printing {

// Where the renderer reports to. The engine has no desktop: it keeps the defaults.
class SheetObserver {
 public:
  virtual ~SheetObserver() = default;
  // The page label text ("%3d/%3d ページ") of a side about to print.
  virtual void SetPageLabel(std::string_view text) {}
  // The progress position (0 to 100) of a side about to print.
  virtual void SetProgress(int position) {}
  // A message for the user (a message box in the client, the log in the engine).
  virtual void ShowMessage(std::string_view text) {}
};

// The message shown when the header and footer font cannot be used.
inline constexpr const char* kFontFailedMessage = "フォント設定に失敗しました。デフォルトフォントを使用します。";

// Takes the document, the printer device (a document started on it), the run's first and
// last page (1-based; only the low 16 bits count), the layout mode, the settings and an
// observer (may be null); prints the run's sides (StartPage, pages, header and footer,
// separators, EndPage) and gives the number of sides printed. Pages beyond the document are
// never drawn; a run that starts after its end or an unknown mode prints nothing. Writes the
// header and footer heights into the document's run state.
int RenderSheet(PrintDocument& doc, PrinterDevice& device, int first_page, int last_page, int mode,
                const SheetSettings& settings, SheetObserver* observer);

// Takes a device context in its page's default coordinates (one unit per device pixel of the
// printable area), the printable area's size and two points; clamps both into the printable
// area (x to 0..horzres-1, y to 0..vertres-1) and draws a one-pixel solid black line between
// them with the context's pen restored afterwards.
void DrawSeparatorLine(gdi::DeviceContext& dc, int horzres, int vertres, win::POINT from, win::POINT to);

}  // namespace zv::printing
