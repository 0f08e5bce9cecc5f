#include "capture/pdfrecords/document_fonts.h"

#include <GfxFont.h>

namespace zv::capture::pdfrecords {
namespace {

// poppler gives a font written straight into a page's resources a made-up number whose
// generation (100000 and up) no real object has; such numbers may repeat between pages.
bool OwnObject(const Ref& id) { return id.num >= 0 && id.gen >= 0 && id.gen < 100000; }

}  // namespace

FontWork& DocumentFonts::Meet(const std::shared_ptr<GfxFont>& font) {
  auto at = page_.find(font.get());
  if (at != page_.end()) return *at->second;
  page_held_.push_back(font);
  const Ref id = *font->getID();
  FontWork* work = nullptr;
  if (OwnObject(id)) {
    std::unique_ptr<FontWork>& slot = by_object_[{id.num, id.gen}];
    if (!slot) {
      slot = std::make_unique<FontWork>();
      slot->font = font;
    }
    work = slot.get();
  } else {
    page_only_.push_back(std::make_unique<FontWork>());
    work = page_only_.back().get();
    work->font = font;
  }
  work->last_page = page_number_;
  page_.emplace(font.get(), work);
  return *work;
}

FontWork* DocumentFonts::Find(const GfxFont* font) const {
  auto at = page_.find(font);
  return at == page_.end() ? nullptr : at->second;
}

void DocumentFonts::EndPage() {
  page_.clear();
  page_only_.clear();
  page_held_.clear();
  std::size_t bytes = 0;
  for (const auto& [id, work] : by_object_) bytes += work->outlines ? work->outlines->ProgramBytes() : 0;
  if (bytes > kMaxProgramBytes) {
    std::erase_if(by_object_, [this](const auto& entry) { return entry.second->last_page != page_number_; });
  }
  ++page_number_;
}

std::unordered_map<char16_t, int>& DocumentFonts::WidthsOf(const win::LOGFONTW& lf) {
  std::string key(reinterpret_cast<const char*>(&lf), sizeof lf);
  auto at = widths_.find(key);
  if (at != widths_.end()) return at->second;
  // A document of ever new sizes keeps no more than so many fonts' widths.
  if (widths_.size() >= kMaxWidthTables) widths_.clear();
  return widths_[std::move(key)];
}

}  // namespace zv::capture::pdfrecords
