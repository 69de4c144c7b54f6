// The two help windows: help for the analysis window and for the image
// selection window.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;

namespace ps::ui {

class PictureButton;

class HelpExportForm : public QDialog {
 public:
  explicit HelpExportForm(QWidget* owner);
  PictureButton* Image1;  // closes the window
};

class HelpOpenForm : public QDialog {
 public:
  explicit HelpOpenForm(QWidget* owner);
  // Switches between the text page and the picture page.
  void Image14_Click();
  bool showingText() const;

  QPlainTextEdit* Text1;
  PictureButton* Image14;  // page switch
  PictureButton* Image8;   // close
  QLabel* Images[5];       // Image1..Image5
  QLabel* PageLabels[3];
};

}  // namespace ps::ui
