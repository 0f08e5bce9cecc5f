// _CButton: the push button of the main window's bottom bar (template 103) and of the job
// list page, with the default-button look that follows the focus, so that Enter always
// triggers the button that looks like the default: Cancel (1003) during a print run, Print
// (1002) otherwise. Also the object names the frame's controls take from their ids.
#pragma once

#include <QPushButton>
#include <QString>

namespace zv::client::app {

class CMainFrame;

// Takes a control id; gives the control's object name.
inline QString Id(int id) { return QString::number(id); }

class _CButton : public QPushButton {
  Q_OBJECT

 public:
  // Takes the caption and the parent.
  _CButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

  // Takes the parent, a control id and the caption; gives a button named by the id in the
  // viewer's font.
  static _CButton* Make(QWidget* parent, int id, const QString& text);

  // Takes the frame and the two ends of a focus move (either may be null); moves the
  // default-button look between the bar's and the job list's buttons and other controls.
  // Qt tells a move once with both ends, which the rules need (the focus gained from the
  // tab control), so the move is taken whole rather than as separate focus-in and
  // focus-out events. Nothing happens without a frame.
  static void OnFocusChanged(CMainFrame* frame, QWidget* old, QWidget* now);
};

}  // namespace zv::client::app
