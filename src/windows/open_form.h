// The image selection window: drives, folders and files, the file check with its
// information text, preview and palette, and the animated open button. The
// analysis window opens it modally for one slot; the outcome is in the state.
#pragma once

#include <QDialog>
#include <QTimer>
#include <optional>

#include "imageio/bmp.h"
#include "state/app_state.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;

namespace ps::ui {

class PictureButton;

// The palette of an 8-bit file: 8 rows of 32 squares.
class PaletteView : public QWidget {
 public:
  explicit PaletteView(QWidget* parent = nullptr);
  void setPalette256(const Palette& palette);
  const Palette& shown() const { return palette_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  Palette palette_{};
};

class OpenForm : public QDialog {
 public:
  OpenForm(AppState& state, QWidget* owner);
  ~OpenForm() override;

  // Drive, folder and file lists.
  QComboBox* Drive1;
  QListWidget* Dir1;
  QListWidget* File1;
  QComboBox* ComboPattern;
  QLineEdit* Text4;  // chosen file name
  QLineEdit* Text5;  // folder path
  PictureButton* Image1;  // file check
  PictureButton* Picture3;  // open button (picture strip)
  QCheckBox* Check1;      // preview on/off
  QLabel* Image11;        // preview
  QLabel* Label1;         // size, scale and colours
  QPlainTextEdit* Text7;  // information text
  PaletteView* Picture1;  // palette of an 8-bit file
  QLabel* Label4;         // unsupported depth
  PictureButton* Image3;  // help

  QTimer Timer0;  // open button animation

  // The current folder of the folder list.
  QString folder() const { return folder_; }
  // Folder change: the folder list and the file list follow; false when the
  // folder cannot be read (the message has been shown).
  bool setFolder(const QString& path);
  // Selects the file of that name in the file list (false when it is not there).
  bool selectFile(const QString& name);
  // The file check of the selected file.
  void Image1_Click();
  // Double-click on a file: select it again after a refresh and check it.
  void File1_DblClick();
  // The open button: remembers the place and closes the window, accepted.
  void Picture3_Click();

  // The file the open button takes: the last checked file when it was
  // accepted. Nothing else is ever taken, so closing the window otherwise
  // (title bar, Esc) changes nothing.
  const std::optional<CheckedFile>& choice() const { return choice_; }

  bool openEnabled() const { return openEnabled_; }
  int stripPosition() const { return strip_; }

 private:
  void fillDrives();
  void Drive1_Change();
  void refreshFiles();
  void applyPattern(int index);
  void Timer0_Timer();
  void setStrip(int position);
  void enableOpen();
  void disableOpen();
  void showPreview(const QString& path, std::string& summary);

  AppState& state_;
  std::optional<CheckedFile> choice_;
  QString folder_;
  QString pattern_ = QStringLiteral("*.bmp");
  int strip_ = 0;
  bool openEnabled_ = false;
  bool loading_ = false;
};

}  // namespace ps::ui
