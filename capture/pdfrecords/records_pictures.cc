// The converter's pictures: what the records cannot express (constant alpha, blend modes,
// soft masks, knockout groups) is drawn by poppler's own rasteriser, one per document from
// the document already open, and the area it covers is placed over the records as a
// bitmap. Transparency groups that draw the same as their content are drawn as records.
// Part of the one output device (records_device.h).
#include <GfxState.h>
#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <splash/SplashBitmap.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "capture/pdfrecords/records_device.h"
#include "platform/gdi/dib.h"

namespace zv::capture::pdfrecords {

DocumentPictures::DocumentPictures(PDFDoc* doc) : doc_(doc) {}

DocumentPictures::~DocumentPictures() = default;

SplashBitmap* DocumentPictures::Render(int page, double dpi, bool (*abort)(void*), void* abort_data) {
  if (!out_) {
    SplashColor white = {255, 255, 255};
    out_ = std::make_unique<SplashOutputDev>(splashModeRGB8, 1, false, white);
    out_->startDoc(doc_);
  }
  doc_->displayPage(out_.get(), page + 1, dpi, dpi, 0, false, true, true, abort, abort_data);
  return out_->getBitmap();
}

std::optional<gdi::Dib> AreaPictures::Cut(const win::RECT& device, int* cut_w, int* cut_h) {
  if (!Ensure()) return std::nullopt;
  const double k = picture_per_point_ / device_per_point_;
  const int w = bitmap_->getWidth(), h = bitmap_->getHeight();
  const int l = std::clamp(static_cast<int>(std::floor(device.left * k)), 0, w);
  const int t = std::clamp(static_cast<int>(std::floor(device.top * k)), 0, h);
  const int r = std::clamp(static_cast<int>(std::ceil(device.right * k)), 0, w);
  const int b = std::clamp(static_cast<int>(std::ceil(device.bottom * k)), 0, h);
  if (r <= l || b <= t) return std::nullopt;
  std::vector<std::uint32_t> px(static_cast<std::size_t>(r - l) * (b - t));
  const SplashColorPtr data = bitmap_->getDataPtr();
  const int row = bitmap_->getRowSize();
  for (int y = t; y < b; ++y) {
    const unsigned char* p = data + static_cast<std::ptrdiff_t>(y) * row + 3 * l;
    for (int x = l; x < r; ++x, p += 3)
      px[static_cast<std::size_t>(y - t) * (r - l) + (x - l)] = (std::uint32_t{p[0]} << 16) | (p[1] << 8) | p[2];
  }
  *cut_w = r - l;
  *cut_h = b - t;
  origin_l_ = l / k;
  origin_t_ = t / k;
  extent_r_ = r / k;
  extent_b_ = b / k;
  return gdi::EncodeDib(r - l, b - t, px);
}

bool AreaPictures::Ensure() {
  if (bitmap_ || failed_) return bitmap_ != nullptr;
  failed_ = true;
  bitmap_ = pictures_.Render(page_, 72.0 * picture_per_point_, abort_, abort_data_);
  failed_ = bitmap_ == nullptr;
  return bitmap_ != nullptr;
}

void RecordsDev::updateStrokeOpacity(GfxState* state) {
  Neutralised(state->getStrokeOpacity() >= 0.999, &stroke_alpha_);
}

void RecordsDev::beginTransparencyGroup(GfxState* state, const double* bbox, GfxColorSpace*, bool, bool knockout,
                                        bool forSoftMask) {
  Flush();
  const bool picture = !forSoftMask && (neutralised_ || knockout);
  neutralised_ = false;
  // A soft mask's group is no drawing at all; a group that needs a picture is drawn as
  // one once it is painted; any other group's content is drawn as it comes.
  groups_.push_back(forSoftMask || picture || hidden_ > 0);
  soft_groups_.push_back(forSoftMask);
  if (forSoftMask) ++soft_depth_;
  if (groups_.back()) {
    if (hidden_ == 0 && picture) {
      group_box_ = BoxOf(state, bbox[0], bbox[1], bbox[2], bbox[3]);
      group_ink_.reset();
    }
    ++hidden_;
  }
}

void RecordsDev::endTransparencyGroup(GfxState*) {
  if (groups_.empty()) return;
  if (groups_.back() && hidden_ > 0) --hidden_;
  if (soft_groups_.back() && soft_depth_ > 0) --soft_depth_;
  groups_.pop_back();
  soft_groups_.pop_back();
}

void RecordsDev::paintTransparencyGroup(GfxState* state, const double*) {
  if (hidden_ == 0 && group_box_) {
    // The group's picture covers what its content draws, not the whole box it declares (a
    // cairo group declares the whole page).
    win::RECT box = *group_box_;
    if (group_ink_) {
      box.left = std::max(box.left, group_ink_->left - 2);
      box.top = std::max(box.top, group_ink_->top - 2);
      box.right = std::min(box.right, group_ink_->right + 2);
      box.bottom = std::min(box.bottom, group_ink_->bottom + 2);
    }
    const bool drawn = group_ink_.has_value();
    group_box_.reset();
    group_ink_.reset();
    if (drawn) Picture(state, box);
  }
}

void RecordsDev::Ink(GfxState* state, win::RECT box) {
  if (hidden_ == 0 || !group_box_ || soft_depth_ > 0) return;
  box = WithinClip(state, box);
  if (box.right <= box.left || box.bottom <= box.top) return;
  if (!group_ink_) {
    group_ink_ = box;
    return;
  }
  group_ink_->left = std::min(group_ink_->left, box.left);
  group_ink_->top = std::min(group_ink_->top, box.top);
  group_ink_->right = std::max(group_ink_->right, box.right);
  group_ink_->bottom = std::max(group_ink_->bottom, box.bottom);
}

void RecordsDev::clearSoftMask(GfxState*) {
  if (current_.soft_mask) neutralised_ = true;
  current_.soft_mask = false;
}

void RecordsDev::Neutralised(bool neutral, bool* was_neutral) {
  if (neutral && !*was_neutral) neutralised_ = true;
  *was_neutral = neutral;
}

bool RecordsDev::NeedsPicture(GfxState* state, double opacity) const {
  return opacity < 0.999 || state->getBlendMode() != gfxBlendNormal || current_.soft_mask;
}

win::RECT RecordsDev::WithinClip(GfxState* state, win::RECT box) {
  double cl, ct, cr, cb;
  state->getClipBBox(&cl, &ct, &cr, &cb);
  box.left = std::max(box.left, Clamp32(std::floor(cl)));
  box.top = std::max(box.top, Clamp32(std::floor(ct)));
  box.right = std::min(box.right, Clamp32(std::ceil(cr)));
  box.bottom = std::min(box.bottom, Clamp32(std::ceil(cb)));
  return box;
}

void RecordsDev::Picture(GfxState* state, win::RECT box) {
  box = WithinClip(state, box);
  if (box.right <= box.left || box.bottom <= box.top) return;
  int w = 0, h = 0;
  auto dib = pictures_.Cut(box, &w, &h);
  if (!dib) return;
  const win::RECT at = pictures_.LastCutDevice();
  rec_.StretchDIBits(at.left, at.top, at.right - at.left, at.bottom - at.top, 0, 0, w, h, dib->ref(), win::SRCCOPY);
  ++stats_.area_pictures;
  Spend(dib->bits.size() + 120);
}

}  // namespace zv::capture::pdfrecords
