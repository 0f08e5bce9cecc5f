// CViewerToolButton: the owner-drawn button of the preview frame and the view: a 16 x 16
// image chosen by its command id, an optional label in the IPA face, a raised or sunken
// border (sunken also while the state it stands for is on: auto-scroll, the open pane).
#pragma once

#include <QAbstractButton>

namespace zv::viewer {

class CViewerView;

class CViewerToolButton : public QAbstractButton {
 public:
  // Takes the command id, the view whose state it shows (may be null) and the parent.
  CViewerToolButton(int id, CViewerView* view, QWidget* parent);
  int id() const { return id_; }
  // Gives the image index for the button's id and the view's state (-1: none).
  int ImageIndex() const;
  // Gives the label ("" for buttons without one).
  QString Label() const;
  // Whether it is drawn pushed now.
  bool LooksPushed() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int id_;
  CViewerView* view_;
};

// Takes a painter, an image index (0-19) and a 16 x 16 square; draws the image.
void DrawToolImage(class QPainter& p, int index, const QRect& r, const QColor& ink);

}  // namespace zv::viewer
