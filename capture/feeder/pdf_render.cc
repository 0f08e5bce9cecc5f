#include "capture/feeder/pdf_render.h"

#include <cairo.h>
#include <poppler.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "capture/spool/placement.h"

namespace zv::capture {
namespace {

struct GObjectFree {
  void operator()(void* p) const {
    if (p) g_object_unref(p);
  }
};

std::string FileUri(const std::string& path) {
  GError* error = nullptr;
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, &error);
  if (uri == nullptr) {
    if (error) g_error_free(error);
    return {};
  }
  std::string out = uri;
  g_free(uri);
  return out;
}

// Takes a path (relative ones are taken from the current folder); gives the absolute path of
// a regular file the caller may read, or what keeps it from being read: missing, a folder,
// not readable. `head` gets its first bytes, where a PDF's "%PDF-" mark lies.
Result<std::string> ReadablePdfPath(const std::string& path, std::string* head) {
  if (path.empty()) return Status::InvalidArgument("no PDF file named");
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return Status::IOError(path + ": the current folder cannot be read: " + ec.message());
  const std::string name = absolute.lexically_normal().string();
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) return Status::NotFound(name + ": no such file");
    return Status::IOError(name + ": cannot be read: " + std::strerror(e));
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  head->assign(1024, '\0');
  const ssize_t n = regular ? ::read(fd, head->data(), head->size()) : -1;
  const int e = errno;
  ::close(fd);
  if (!regular) return Status::InvalidArgument(name + ": not a regular file");
  if (n < 0) return Status::IOError(name + ": cannot be read: " + std::strerror(e));
  head->resize(static_cast<std::size_t>(n));
  return name;
}

}  // namespace

struct PdfPictures::Impl {
  std::string path;
  std::unique_ptr<PopplerDocument, GObjectFree> doc;
  int pages = 0;
};

Result<std::unique_ptr<PdfPictures>> PdfPictures::Open(const std::string& path) {
  std::string head;
  auto file = ReadablePdfPath(path, &head);
  if (!file.ok()) return file.status();
  // Readers accept a PDF whose mark lies anywhere in its first kilobyte.
  if (head.find("%PDF-") == std::string::npos) return Status::InvalidArgument(*file + ": not a PDF file");
  const std::string uri = FileUri(*file);
  GError* error = nullptr;
  std::unique_ptr<PopplerDocument, GObjectFree> doc(
      uri.empty() ? nullptr : poppler_document_new_from_file(uri.c_str(), nullptr, &error));
  if (!doc) {
    std::string why = error ? error->message : "no file name for it";
    if (error) g_error_free(error);
    return Status::InvalidArgument("cannot open " + *file + ": " + why);
  }
  const int pages = poppler_document_get_n_pages(doc.get());
  if (pages <= 0) return Status::InvalidArgument(path + " has no pages");
  std::unique_ptr<PdfPictures> out(new PdfPictures);
  out->impl_ = std::make_unique<Impl>();
  out->impl_->path = path;
  out->impl_->doc = std::move(doc);
  out->impl_->pages = pages;
  return out;
}

PdfPictures::~PdfPictures() = default;

int PdfPictures::pages() const { return impl_->pages; }

Status PdfPictures::Render(int i, const VirtualPaper& paper, int resolution,
                           const std::function<Status(const RenderedPage&, int orientation)>& each,
                           int sheet_orientation) const {
  if (i < 0 || i >= impl_->pages)
    return Status::InvalidArgument(impl_->path + " has no page " + std::to_string(i + 1));
  std::unique_ptr<PopplerPage, GObjectFree> page(poppler_document_get_page(impl_->doc.get(), i));
  if (!page) return Status::InvalidArgument("page " + std::to_string(i + 1) + " cannot be read");
  double wpt = 0, hpt = 0;
  poppler_page_get_size(page.get(), &wpt, &hpt);
  if (!(wpt > 0) || !(hpt > 0)) return Status::InvalidArgument("page " + std::to_string(i + 1) + " has no size");
  const PagePlacement placed = PlacePage(paper, resolution, wpt, hpt, sheet_orientation);
  RenderedPage out;
  out.width = placed.width;
  out.height = placed.height;
  // Drawn straight into the page's pixels (RGB24 rows of width x 4 bytes, as cairo wants).
  out.pixels.resize(static_cast<std::size_t>(out.width) * out.height);
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(out.pixels.data()), CAIRO_FORMAT_RGB24, out.width, out.height, out.width * 4);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return Status::IOError("no page surface of " + std::to_string(out.width) + "x" + std::to_string(out.height));
  }
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  // A printer at its own resolution: no antialiasing, so black text stays black and white
  // and the page keeps to one bit per pixel.
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_t* fo = cairo_font_options_create();
  cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_NONE);
  cairo_set_font_options(cr, fo);
  cairo_font_options_destroy(fo);
  cairo_scale(cr, placed.scale, placed.scale);
  poppler_page_render_for_printing(page.get(), cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  return each(out, placed.orientation);
}

Status RenderPdf(const std::string& path, const VirtualPaper& paper, int resolution,
                 const std::function<Status(const RenderedPage&, int orientation)>& each, int sheet_orientation,
                 int only_page) {
  auto pictures = PdfPictures::Open(path);
  if (!pictures.ok()) return pictures.status();
  const int pages = (*pictures)->pages();
  if (only_page >= pages) return Status::InvalidArgument(path + " has no page " + std::to_string(only_page + 1));
  for (int i = only_page < 0 ? 0 : only_page; i < (only_page < 0 ? pages : only_page + 1); ++i) {
    Status s = (*pictures)->Render(i, paper, resolution, each, sheet_orientation);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace zv::capture
