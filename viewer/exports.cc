#include "viewer/exports.h"

#include <atomic>
#include <new>

#include "platform/gdi/dc.h"
#include "viewer/viewer_doc.h"

#define ZV_EXPORT __attribute__((visibility("default")))

namespace {
std::atomic<bool> g_driven_through_exports{false};
}

extern "C" {

ZV_EXPORT int CreateDoc(zv::viewer::CViewerDoc** out) {
  if (!out) return 1;
  *out = new (std::nothrow) zv::viewer::CViewerDoc();
  return 1;
}

ZV_EXPORT int DeleteDoc(zv::viewer::CViewerDoc* doc) {
  delete doc;
  return 1;
}

ZV_EXPORT int D_NewDocument(zv::viewer::CViewerDoc* doc, const std::uint8_t* image,
                            std::uint32_t size, std::uint16_t page_count) {
  g_driven_through_exports = true;
  if (!doc || (!image && size != 0)) return 0;
  try {
    return doc->LoadFromBuffer(std::span<const std::uint8_t>(image, size), page_count);
  } catch (...) {
    return 0;
  }
}

ZV_EXPORT int D_Print(zv::viewer::CViewerDoc*, void*) { return 0; }

ZV_EXPORT int D_TenpuCount(zv::viewer::CViewerDoc* doc) {
  return doc ? int(doc->attachments().size()) : 0;
}

ZV_EXPORT void V_Draw(zv::viewer::CViewerDoc* doc, zv::gdi::DeviceContext* dc,
                      const zv::win::RECT* rect, int flag) {
  if (!doc || !dc) return;
  try {
    zv::win::RECT work{};
    zv::win::RECT frame{};
    if (flag == 0) {
      if (!rect) return;
      work = *rect;
      frame = *rect;
      zv::viewer::ViewerPage* p = doc->page(0);
      if (p && p->extent_x() > 0) {
        work.bottom = zv::win::LONG(std::int64_t(rect->right) * p->extent_y() / p->extent_x());
      }
    } else {
      work = zv::win::RECT{1, 1, dc->GetDeviceCaps(zv::win::HORZRES) - 1,
                           dc->GetDeviceCaps(zv::win::VERTRES) - 1};
      frame = work;
    }
    doc->RenderPage(*dc, dc->GetDeviceCaps(zv::win::LOGPIXELSX), 1, 0, &work);
    dc->FrameRgn(zv::gdi::Region(frame), zv::gdi::Brush::Solid(0), 1, 1);
  } catch (...) {
  }
}

ZV_EXPORT int V_DrivenThroughExports() { return g_driven_through_exports ? 1 : 0; }
}
