#include "client/progress.h"

#include <cstdio>

namespace zv::client {

void ProgressModel::Open(int mode, int total) {
  open_ = true;
  mode_ = mode;
  total_ = total;
  title_ = kProgressTitle;
  count_label_ = true;
  position_ = 0;
  switch (mode) {
    case kConfigChanged:
      message_ = "プリンタ構成に変更がありました。\n情報を取得しています。\nしばらくお待ちください...";
      break;
    case kPrinting:
      title_ = "印刷実行中";
      count_label_ = false;
      message_ = "印刷を行っています。\nしばらくお待ちください...\n";
      break;
    default:
      message_ = "プリンタ情報を取得しています。\nしばらくお待ちください...";
      break;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, " 1/%2d", total);
  counter_ = buf;
}

void ProgressModel::Step(int done) {
  if (!open_ || total_ <= 0) return;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%2d/%2d", done, total_);
  counter_ = buf;
  position_ = (100 / total_) * done;
}

void ProgressModel::PrintSide(const std::string& label, int position) {
  if (!open_) return;
  if (!label.empty()) counter_ = label;
  position_ = position;
}

}  // namespace zv::client
