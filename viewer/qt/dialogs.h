// The viewer's modal dialogs and the attachment saving that the frame and the view's own
// command handling share: document information (141), help (1010), the viewer's print
// dialog (1538) and saving the attachments to a folder.
#pragma once

#include <QDialog>

class QCheckBox;

namespace zv::viewer {

class CViewerDoc;

// Takes the owner and the document; builds the document-information dialog (name, creator
// texts, page count, paper list, attachment list in controls 1006-1010).
QDialog* BuildDocumentInfoDialog(QWidget* parent, CViewerDoc& doc);
// Builds the help dialog: what each button does.
QDialog* BuildHelpDialog(QWidget* parent);

// The viewer's print dialog on template 1538: printer, range, copies, collation and the
// flag for printing on the paper chosen in the printer's properties (check box 1028).
class CRpqcprtd : public QDialog {
 public:
  // Takes the owner, the printer names and the page count.
  CRpqcprtd(QWidget* parent, const QStringList& printers, int page_count);
  // Set when the pages go on the paper chosen in the printer properties.
  bool use_printer_paper() const { return use_printer_paper_; }

 private:
  bool use_printer_paper_ = false;
};

// Takes the owner and the document; runs the document-information dialog.
void ShowDocumentInfo(QWidget* parent, CViewerDoc& doc);
// Runs the help dialog.
void ShowHelp(QWidget* parent);
// Runs the print dialog; the viewer's print operation then does nothing (as D_Print).
void ShowPrintDialog(QWidget* parent, CViewerDoc& doc);
// Takes the owner and the document; asks for a folder and saves the attachments there,
// asking before it overwrites; says when all were saved.
void SaveAttachmentsToFolder(QWidget* parent, CViewerDoc& doc);

}  // namespace zv::viewer
