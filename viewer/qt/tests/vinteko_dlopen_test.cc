// libvinteko as the client loads it: through dlopen, calling the exported functions by
// name. Only the named functions are visible.
#include <dlfcn.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <fstream>

#include <gtest/gtest.h>

#include "jobdoc/sample/sample_document.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"
#include "viewer/qt/viewer_view.h"

namespace {

using zv::viewer::CViewerDoc;
using zv::viewer::CViewerView;

struct Library {
  Library() { handle = ::dlopen((zv::testing::BinDir() + "/../lib/libvinteko.so").c_str(), RTLD_NOW | RTLD_LOCAL); }
  ~Library() {
    if (handle) ::dlclose(handle);
  }
  template <typename F>
  F* Get(const char* name) {
    return reinterpret_cast<F*>(::dlsym(handle, name));
  }
  void* handle = nullptr;
};

TEST(VintekoTest, ExportsThroughDlopen) {
  zv::testing::QtApp();
  zv::testing::TempRoot root;
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << ::dlerror();
  for (const char* n : {"CreateDoc", "DeleteDoc", "CreateView", "DeleteView", "V_SetWindow", "V_SetDoc", "V_Draw",
                        "D_NewDocument", "D_Print", "D_TenpuCount", "raru_PrtPreview"}) {
    EXPECT_NE(::dlsym(lib.handle, n), nullptr) << n;
  }
  EXPECT_EQ(::dlsym(lib.handle, "_ZN2zv6viewer11CViewerViewC1Ev"), nullptr) << "the class stays inside";

  auto create_doc = lib.Get<int(CViewerDoc**)>("CreateDoc");
  auto delete_doc = lib.Get<int(CViewerDoc*)>("DeleteDoc");
  auto create_view = lib.Get<int(CViewerView**)>("CreateView");
  auto delete_view = lib.Get<int(CViewerView*)>("DeleteView");
  auto set_window = lib.Get<void(CViewerView*, std::intptr_t, int, int)>("V_SetWindow");
  auto set_doc = lib.Get<void(CViewerView*, CViewerDoc*)>("V_SetDoc");
  auto new_document = lib.Get<int(CViewerDoc*, const std::uint8_t*, std::uint32_t, std::uint16_t)>("D_NewDocument");
  auto driven = lib.Get<int()>("V_DrivenThroughExports");
  auto preview = lib.Get<void(const char*, int)>("raru_PrtPreview");

  const auto image = *zv::jobdoc::BuildDocumentImage(zv::jobdoc::sample::MakeDocument(12, 8, true), false);
  CViewerDoc* doc = nullptr;
  ASSERT_EQ(create_doc(&doc), 1);
  ASSERT_EQ(new_document(doc, image.data(), std::uint32_t(image.size()), 12), 1);
  CViewerView* view = reinterpret_cast<CViewerView*>(0x1);
  ASSERT_EQ(create_view(&view), 1);
  ASSERT_NE(view, nullptr);
  QWidget host;
  host.resize(500, 400);
  host.show();
  set_window(view, reinterpret_cast<std::intptr_t>(&host), 1, 0);
  EXPECT_EQ(view->GetPageCount(), 0) << "without a document the window is not attached";
  set_doc(view, doc);
  set_window(view, reinterpret_cast<std::intptr_t>(&host), 1, 0);
  EXPECT_EQ(driven(), 1);
  EXPECT_EQ(view->GetPageCount(), 12);
  EXPECT_EQ(view->GoToPage(3), 3);
  EXPECT_EQ(view->GetCurrentPage(), 3);
  EXPECT_EQ(delete_view(view), 1);
  EXPECT_EQ(delete_view(nullptr), 1);
  EXPECT_EQ(delete_doc(doc), 1);

  // The preview entry: a null path and unknown modes do nothing; mode 3 loads and "prints"
  // nothing; modes 0 and 1 run their windows modally until closed.
  const std::string path = root.str() + "/doc.img";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  preview(nullptr, 0);
  preview(path.c_str(), 2);
  preview(path.c_str(), 3);
  preview((root.str() + "/missing.img").c_str(), 3);
  for (int mode : {0, 1, 0x100}) {
    bool shown = false;
    QTimer::singleShot(200, [&] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        shown = true;
        w->close();
      }
    });
    preview(path.c_str(), mode);
    EXPECT_TRUE(shown) << mode;
  }
}

}  // namespace
