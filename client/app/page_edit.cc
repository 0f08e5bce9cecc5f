#include "client/app/page_edit.h"

#include "viewer/page.h"
#include "viewer/viewer_doc.h"

namespace zv::client::app {

bool PageEditor::Enabled(int command, const PageEditState& s) const {
  if (s.printing || s.selected < 0 || s.selected >= doc_->page_count()) return false;
  viewer::ViewerPage* page = doc_->page(s.selected);
  if (page == nullptr) return false;
  switch (command) {
    case kCmdCutPage:
    case kCmdCopyPage:
      return !page->blank();
    case kCmdPasteBefore:
    case kCmdPasteAfter:
      return doc_->CanPastePage() != 0;
    case kCmdDeletePage:
    case kCmdBlankBefore:
    case kCmdBlankAfter:
      return true;
    case kCmdRotateRight:
    case kCmdRotateLeft: {
      if (page->blank() || s.selected == 0 || s.pages_per_sheet == 1) return false;
      const std::uint16_t value = command == kCmdRotateRight ? viewer::kTurnClockwise : viewer::kTurnCounterClockwise;
      return page->GetRotation() != value;
    }
    default:
      return false;
  }
}

std::optional<int> PageEditor::Run(int command, const PageEditState& s) {
  if (!Enabled(command, s)) return std::nullopt;
  const int at = s.selected;
  const auto index = static_cast<std::int16_t>(at);
  switch (command) {
    case kCmdCopyPage:
    case kCmdCutPage:
      if (doc_->CopyPage(index) != 1) return std::nullopt;
      held_ = at;
      if (command == kCmdCopyPage) return at;
      [[fallthrough]];
    case kCmdDeletePage:
      if (doc_->DeletePage(index, 1) != 1) return std::nullopt;
      jobs_->PagesRemoved(at, 1);
      return -1;
    case kCmdPasteBefore:
    case kCmdPasteAfter:
    case kCmdBlankBefore:
    case kCmdBlankAfter: {
      const bool after = command == kCmdPasteAfter || command == kCmdBlankAfter;
      const bool paste = command == kCmdPasteBefore || command == kCmdPasteAfter;
      const auto target = static_cast<std::int16_t>(at + (after ? 1 : 0));
      const int row = jobs_->RowOfPage(at);
      if ((paste ? doc_->PastePage(target) : doc_->InsertBlankPage(target)) != 1) return std::nullopt;
      jobs_->PagesInsertedInRow(row, 1);
      return after ? at : at + 1;
    }
    case kCmdRotateRight:
    case kCmdRotateLeft: {
      viewer::ViewerPage* page = doc_->page(at);
      const std::uint16_t value = command == kCmdRotateRight ? viewer::kTurnClockwise : viewer::kTurnCounterClockwise;
      page->SetRotation(page->GetRotation() == viewer::kUpright ? value : viewer::kUpright);
      return at;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace zv::client::app
