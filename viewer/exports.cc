#include "viewer/exports.h"

#include <QApplication>
#include <new>

#include "platform/gdi/dc.h"
#include "platform/winmsg/qt/qt_translations.h"
#include "viewer/qt/preview_frame.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/view/driven.h"
#include "viewer/view/mapped_file.h"
#include "viewer/viewer_doc.h"

#define ZV_EXPORT __attribute__((visibility("default")))

namespace {

// Runs a modal window of the library, with a QApplication of its own when the process
// has none (a process with a plain QCoreApplication cannot show windows: nothing is done).
template <typename Run>
void WithApplication(Run run) {
  if (QCoreApplication::instance()) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) run();
    return;
  }
  // Static: QApplication keeps references to argc and argv for its whole life.
  static int argc = 1;
  static char name[] = "vinteko";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  // Without the translations Qt's own buttons stay English; the window works all the same.
  (void)zv::winmsg::LoadQtTranslations();
  run();
}

}  // namespace

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

ZV_EXPORT int D_NewDocument(zv::viewer::CViewerDoc* doc, const std::uint8_t* image, std::uint32_t size,
                            std::uint16_t page_count) {
  zv::viewer::view::SetDrivenThroughExports();
  if (!doc || (!image && size != 0)) return 0;
  try {
    return doc->LoadFromBuffer(std::span<const std::uint8_t>(image, size), page_count);
  } catch (...) {
    return 0;
  }
}

ZV_EXPORT int D_Print(zv::viewer::CViewerDoc*, void*) { return 0; }

ZV_EXPORT int D_TenpuCount(zv::viewer::CViewerDoc* doc) { return doc ? int(doc->attachments().size()) : 0; }

ZV_EXPORT void V_Draw(zv::viewer::CViewerDoc* doc, zv::gdi::DeviceContext* dc, const zv::win::RECT* rect, int flag) {
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
      work = zv::win::RECT{1, 1, dc->GetDeviceCaps(zv::win::HORZRES) - 1, dc->GetDeviceCaps(zv::win::VERTRES) - 1};
      frame = work;
    }
    doc->RenderPage(*dc, dc->GetDeviceCaps(zv::win::LOGPIXELSX), 1, 0, &work);
    dc->FrameRgn(zv::gdi::Region(frame), zv::gdi::Brush::Solid(0), 1, 1);
  } catch (...) {
  }
}

ZV_EXPORT int V_DrivenThroughExports() { return zv::viewer::view::DrivenThroughExports() ? 1 : 0; }

ZV_EXPORT int CreateView(zv::viewer::CViewerView** out) {
  if (!out) return 1;
  *out = nullptr;
  try {
    *out = new zv::viewer::CViewerView();
  } catch (...) {
    *out = nullptr;
  }
  return 1;
}

ZV_EXPORT int DeleteView(zv::viewer::CViewerView* view) {
  delete view;
  return 1;
}

ZV_EXPORT void V_SetWindow(zv::viewer::CViewerView* view, std::intptr_t window, int zoom, int pane) {
  zv::viewer::view::SetDrivenThroughExports();
  if (!view || !view->document()) return;
  view->SetAutoScroll(0, 1);
  view->auto_scroll_step = 10;
  view->AttachWindow(reinterpret_cast<QWidget*>(window), zoom, pane);
}

ZV_EXPORT void V_SetDoc(zv::viewer::CViewerView* view, zv::viewer::CViewerDoc* doc) {
  if (view) view->SetDocument(doc);
}

ZV_EXPORT void raru_PrtPreview(const char* data, int mode) {
  // Without a path there is no document: the library's own file is not one.
  if (!data) return;
  try {
    switch (mode & 0xFF) {
      case 0:
        WithApplication([data] {
          zv::viewer::CViewerPreviewFrame frame(data);
          if (frame.Initialise()) frame.exec();
        });
        break;
      case 1:
        WithApplication([data] {
          zv::viewer::CViewerFlipDialog flip(data);
          if (flip.Initialise()) flip.exec();
        });
        break;
      case 3: {
        auto file = zv::viewer::view::MappedFile::Open(data);
        if (!file.ok()) return;
        zv::viewer::CViewerDoc doc;
        if (doc.LoadFromBuffer(file->bytes(), 1)) D_Print(&doc, nullptr);
        break;
      }
      default:
        break;
    }
  } catch (...) {
  }
}
}
