// The exported functions of libvinteko: the library creates and deletes its documents
// itself; callers hold only pointers. Nothing throws across these functions.
#pragma once

#include <cstdint>

#include "platform/wintypes/wintypes.h"

namespace zv::gdi {
class DeviceContext;
}
namespace zv::viewer {
class CViewerDoc;
class CViewerView;
}  // namespace zv::viewer

extern "C" {

// Takes where to store the new document; stores it (null when it cannot be made). Gives 1.
int CreateDoc(zv::viewer::CViewerDoc** out);
// Takes a document (may be null); destroys it. Gives 1.
int DeleteDoc(zv::viewer::CViewerDoc* doc);
// Takes a document, an image and its size and the page count; marks the library as driven
// through its exports and loads the image. Gives LoadFromBuffer's result (0 without a
// document or image).
int D_NewDocument(zv::viewer::CViewerDoc* doc, const std::uint8_t* image, std::uint32_t size, std::uint16_t page_count);
// Takes a document and print parameters; printing is not done by this library. Gives 0.
int D_Print(zv::viewer::CViewerDoc* doc, void* parameters);
// Takes a document; gives its number of attachments (0 without a document).
int D_TenpuCount(zv::viewer::CViewerDoc* doc);
// Takes a document, a device context, a rectangle and a flag; draws page 0: flag 0 into the
// rectangle at the page's proportions for its width, framing the given rectangle in black;
// flag nonzero into the whole device less one pixel, framed.
void V_Draw(zv::viewer::CViewerDoc* doc, zv::gdi::DeviceContext* dc, const zv::win::RECT* rect, int flag);
// Gives nonzero once the library is driven through its exports (D_NewDocument or
// V_SetWindow was called).
int V_DrivenThroughExports();

// Takes where to store the new page view; stores null, then the view (null when it
// cannot be made). Gives 1.
int CreateView(zv::viewer::CViewerView** out);
// Takes a view (may be null); destroys it (its host widget stays). Gives 1.
int DeleteView(zv::viewer::CViewerView* view);
// Takes a view, the address of the host QWidget, the zoom and the initial page pane;
// marks the library as driven through its exports and, when the view has a document,
// switches auto-scroll off with looping, sets its step to 10 and attaches the view to the
// widget (AttachWindow).
void V_SetWindow(zv::viewer::CViewerView* view, std::intptr_t window, int zoom, int pane);
// Takes a view and a document; binds the document to the view.
void V_SetDoc(zv::viewer::CViewerView* view, zv::viewer::CViewerDoc* doc);
// Takes the path of a document file and a mode (low 8 bits): 0 runs the preview frame
// modally, 1 the page-flip window, 3 loads the document and hands it to the print
// operation (which prints nothing); other modes and a null path do nothing. Makes a
// QApplication for the run when the process has none.
void raru_PrtPreview(const char* data, int mode);
}
