#include "windows/open_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStorageInfo>

#include "imageio/bmp.h"
#include "windows/picture_files.h"
#include "state/number_format.h"
#include "windows/help_forms.h"
#include "windows/icons.h"
#include "windows/messages.h"
#include "windows/picture_button.h"

namespace ps::ui {

namespace {

// What the window keeps between openings.
struct Remembered {
  QString drive;
  QString folder;
  QString fileFolder;
  int listPosition = -1;  // 0-based list position of the last double-clicked or opened file
  QString fileName;
};
Remembered& Memory() {
  static Remembered m;
  return m;
}

bool SetInProgress(const AppState& s) {
  for (bool b : s.SlotLoaded)
    if (b) return true;
  return false;
}

constexpr int kFrameW = 265;
constexpr int kFrameH = 161;
constexpr int kStripActive = -260;
constexpr int kStripPressed = -286;

QLabel* Caption(QWidget* parent, const QString& text, int x, int y, int w = 200, int h = 18) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(x, y, w, h);
  return l;
}

}  // namespace

PaletteView::PaletteView(QWidget* parent) : QWidget(parent) { setFixedSize(320, 80); }

void PaletteView::setPalette256(const Palette& palette) {
  palette_ = palette;
  update();
}

void PaletteView::paintEvent(QPaintEvent*) {
  QPainter g(this);
  g.fillRect(rect(), palette().window());
  for (int row = 0; row < 8; ++row)
    for (int column = 0; column < 32; ++column) {
      const auto& e = palette_[static_cast<size_t>(32 * row + column)];
      auto c = [](float v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); };
      // A filled box from (10c, 10r) to (10c + 8, 10r + 8), both corners included.
      g.fillRect(10 * column, 10 * row, 9, 9, QColor(c(e[0]), c(e[1]), c(e[2])));
    }
}

OpenForm::OpenForm(AppState& state, QWidget* owner) : QDialog(owner), state_(state) {
  setWindowTitle(QString::fromUtf8("Открыть"));
  setWindowIcon(icons::AppIcon());
  setModal(true);
  setFixedSize(640, 470);

  Caption(this, QString::fromUtf8("Устройства:"), 10, 8);  // Label2
  Drive1 = new QComboBox(this);
  Drive1->setGeometry(10, 26, 200, 24);

  Caption(this, QString::fromUtf8("Каталоги:"), 10, 56);  // Text6
  Dir1 = new QListWidget(this);
  Dir1->setGeometry(10, 74, 200, 144);
  Text5 = new QLineEdit(this);
  Text5->setGeometry(10, 222, 200, 22);
  Text5->setReadOnly(true);

  Caption(this, QString::fromUtf8("Имя файла:"), 220, 8);  // Text1
  Text4 = new QLineEdit(this);
  Text4->setGeometry(220, 26, 190, 24);
  Text4->setReadOnly(true);
  File1 = new QListWidget(this);
  File1->setGeometry(220, 54, 190, 164);

  Caption(this, QString::fromUtf8("Тип файла:"), 220, 224, 70);  // Label3
  ComboPattern = new QComboBox(this);
  ComboPattern->setGeometry(290, 222, 120, 22);
  ComboPattern->addItem(QStringLiteral("*.BMP"));
  ComboPattern->addItem(QStringLiteral("*.*"));
  ComboPattern->addItem(QStringLiteral("*.BMP *.PNG *.TIF"));

  Image1 = new PictureButton(this);
  Image1->setGeometry(425, 20, icons::kButtonSize, icons::kButtonSize);
  Image1->setPictures(icons::Button(icons::Kind::CheckFile, false), icons::Button(icons::Kind::CheckFile, true));
  Image1->setToolTip(QString::fromUtf8("Открыть файл"));

  Image3 = new PictureButton(this);
  Image3->setGeometry(480, 20, icons::kButtonSize, icons::kButtonSize);
  Image3->setPictures(icons::Button(icons::Kind::Help, false), icons::Button(icons::Kind::Help, true));

  Picture3 = new PictureButton(this);
  Picture3->setGeometry(425, 76, 110, 30);

  Check1 = new QCheckBox(QString::fromUtf8("Показывать файл"), this);
  Check1->setGeometry(425, 116, 200, 22);
  Check1->setChecked(true);

  Label1 = new QLabel(QString::fromUtf8("Размер, масштаб и число цветов в файле"), this);
  Label1->setGeometry(10, 250, 620, 18);

  Image11 = new QLabel(this);
  Image11->setGeometry(10, 272, kFrameW, kFrameH);
  Image11->setAlignment(Qt::AlignCenter);
  Image11->setFrameShape(QFrame::Box);

  Text7 = new QPlainTextEdit(this);
  Text7->setGeometry(285, 272, 345, 100);
  Text7->setReadOnly(true);
  Text7->setPlainText(QString::fromUtf8("Информация о файле"));

  Picture1 = new PaletteView(this);
  Picture1->move(285, 380);
  Picture1->setToolTip(QString::fromUtf8("Палитра 256-ти цветного изображения"));
  Picture1->hide();

  Label4 = new QLabel(this);
  Label4->setGeometry(285, 380, 345, 40);
  Label4->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold;"));
  Label4->hide();

  Timer0.setInterval(30);
  connect(&Timer0, &QTimer::timeout, this, [this] { Timer0_Timer(); });

  // File check button: pressed look while the mouse button is down.
  Image1->onClick = [this] { Image1_Click(); };
  Image3->onMouseDown = [this](Qt::MouseButton) { Image3->showPressed(); };
  Image3->onMouseUp = [](Qt::MouseButton) {};
  Image3->onClick = [this] {
    HelpOpenForm help(this);
    help.exec();
    // Closing the help window restores the help button's normal look.
    Image3->showNormal();
  };
  Picture3->onMouseDown = [this](Qt::MouseButton) {
    if (openEnabled_) setStrip(kStripPressed);
  };
  Picture3->onMouseUp = [](Qt::MouseButton) {};
  Picture3->onClick = [this] {
    if (openEnabled_) Picture3_Click();
  };

  connect(Drive1, &QComboBox::currentIndexChanged, this, [this](int) {
    if (!loading_) Drive1_Change();
  });
  connect(Dir1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    if (item) setFolder(item->data(Qt::UserRole).toString());
  });
  connect(File1, &QListWidget::itemActivated, this, [this](QListWidgetItem*) { File1_DblClick(); });
  connect(ComboPattern, &QComboBox::currentIndexChanged, this, [this](int i) { applyPattern(i); });
  connect(Check1, &QCheckBox::toggled, this, [this](bool on) {
    if (!on) Image11->clear();
  });

  // Window start.
  loading_ = true;
  state_.PendingRead = false;
  fillDrives();
  disableOpen();
  Remembered& m = Memory();
  if (SetInProgress(state_) && !m.fileFolder.isEmpty()) {
    const int d = Drive1->findData(m.drive);
    if (d >= 0) Drive1->setCurrentIndex(d);
    loading_ = false;
    setFolder(m.fileFolder);
    if (m.listPosition >= 0 && File1->currentRow() < 0) {
      if (m.listPosition < File1->count() && File1->item(m.listPosition)->text() == m.fileName)
        File1->setCurrentRow(m.listPosition);
      else
        selectFile(m.fileName);
      File1->scrollToItem(File1->currentItem());
      if (File1->currentItem()) Image1_Click();
    }
    Text4->setText(m.fileName);
    // A set in progress: the remembered file, when it is still accepted, can
    // be taken at once.
    if (choice_) {
      openEnabled_ = true;
      Picture3->setEnabled(true);
      Timer0.stop();
      setStrip(kStripActive);
    }
  } else {
    loading_ = false;
    // The folder list starts at the last folder used, else at the working folder.
    const QString start = m.folder.isEmpty() ? QDir::currentPath() : m.folder;
    if (!setFolder(start)) setFolder(QDir::homePath());
  }
}

OpenForm::~OpenForm() = default;

void OpenForm::fillDrives() {
  // The file-system roots a user has: the root, the home folder and mounted media.
  Drive1->clear();
  auto add = [this](const QString& path, const QString& label) {
    if (Drive1->findData(path) < 0) Drive1->addItem(label, path);
  };
  add(QStringLiteral("/"), QStringLiteral("/"));
  add(QDir::homePath(), QDir::homePath());
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
    const QString root = v.rootPath();
    if (!v.isValid() || !v.isReady()) continue;
    if (root.startsWith(QStringLiteral("/media/")) || root.startsWith(QStringLiteral("/mnt/")) ||
        root.startsWith(QStringLiteral("/run/media/")))
      add(root, v.displayName().isEmpty() ? root : root + QStringLiteral("  [") + v.displayName() + "]");
  }
}

void OpenForm::Drive1_Change() {
  const QString drive = Drive1->currentData().toString();
  if (setFolder(drive)) return;
  // The drive cannot be read: fall back to the home folder, then the root.
  Message m{ToStd(QString::fromUtf8("Ошибка 68 Устройство недоступно: ") + drive), "Ошибка", MessageIcon::Critical};
  ShowMessage(this, m);
  loading_ = true;
  Drive1->setCurrentIndex(std::max(0, Drive1->findData(QDir::homePath())));
  loading_ = false;
  if (setFolder(QDir::homePath())) return;
  m.text += std::string(kCrLf) + "Домашний каталог недоступен.";
  ShowMessage(this, m);
  loading_ = true;
  Drive1->setCurrentIndex(0);
  loading_ = false;
  setFolder(QStringLiteral("/"));  // retries end here whatever happens
}

bool OpenForm::setFolder(const QString& path) {
  QDir dir(path);
  if (path.isEmpty() || !dir.exists() || !dir.isReadable()) {
    if (!loading_) {
      ShowMessage(this, Message{ToStd(QString::fromUtf8("Ошибка 76 Путь не найден: ") + path), "Ошибка",
                                MessageIcon::Critical});
    }
    return false;
  }
  folder_ = dir.canonicalPath();
  // The folder list: the path from the root down to this folder, then its subfolders.
  Dir1->clear();
  QStringList chain;
  for (QDir up(folder_);; ) {
    chain.prepend(up.absolutePath());
    if (up.isRoot() || !up.cdUp()) break;
  }
  int depth = 0;
  for (const QString& p : chain) {
    const QString name = (p == QStringLiteral("/")) ? p : QFileInfo(p).fileName();
    auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + QString::fromUtf8("▸ ") + name);
    item->setData(Qt::UserRole, p);
    Dir1->addItem(item);
    ++depth;
  }
  Dir1->setCurrentRow(Dir1->count() - 1);
  const QStringList subs = QDir(folder_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QString& s : subs) {
    auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + s);
    item->setData(Qt::UserRole, QDir(folder_).filePath(s));
    Dir1->addItem(item);
  }
  Text5->setText(folder_);
  refreshFiles();
  return true;
}

void OpenForm::refreshFiles() {
  File1->clear();
  QDir dir(folder_);
  // Name filters match without regard to case, so "*.bmp" finds .BMP and .Bmp too.
  dir.setNameFilters(pattern_.split(QLatin1Char(' ')));
  dir.setFilter(QDir::Files | QDir::Hidden);
  dir.setSorting(QDir::Name | QDir::IgnoreCase);
  File1->addItems(dir.entryList());
}

void OpenForm::applyPattern(int index) {
  pattern_ = index == 1 ? QStringLiteral("*") : QStringLiteral("*.bmp");
  // The third choice adds the photographs the window converts (PNG, TIFF).
  if (index == 2) pattern_ = QStringLiteral("*.bmp *.png *.tif *.tiff");
  refreshFiles();
}

bool OpenForm::selectFile(const QString& name) {
  const auto found = File1->findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  File1->setCurrentItem(found.first());
  return true;
}

void OpenForm::File1_DblClick() {
  Memory().listPosition = File1->currentRow();
  const QString name = File1->currentItem() ? File1->currentItem()->text() : QString();
  Memory().fileName = name;
  refreshFiles();
  const int pos = Memory().listPosition;
  if (pos >= 0 && pos < File1->count() && File1->item(pos)->text() == name) {
    File1->setCurrentRow(pos);
  } else {
    selectFile(name);
    Image11->clear();
  }
  Image1_Click();
}

void OpenForm::Image1_Click() {
  // Whatever the check finds, the earlier choice is gone: only a file accepted
  // by this check can be taken.
  choice_.reset();
  QListWidgetItem* item = File1->currentItem();
  const std::string name = item ? ToStd(item->text()) : std::string();
  if (!name.empty()) Text4->setText(item->text());
  // A PNG or TIFF photograph is converted to the bitmap the set holds (24-bit
  // colour or 8-bit grey, 16 bits scaled to 8) and that bitmap is checked.
  std::string whatRead;
  CheckFileOutcome check;
  if (!name.empty() && IsConvertiblePhoto(item->text())) {
    std::string error;
    const QString bmp = ConvertPhotoToBmp(folder_ + QStringLiteral("/") + item->text(), &whatRead, &error);
    if (bmp.isEmpty()) {
      Text7->setPlainText(ToQt(error));
      ShowMessage(this, Message{error, "", MessageIcon::Exclamation});
      disableOpen();
      return;
    }
    const QFileInfo converted(bmp);
    check = CheckFile(state_, ToStd(converted.absolutePath()), ToStd(converted.fileName()));
  } else {
    check = CheckFile(state_, ToStd(folder_), name);
  }
  ShowMessages(this, check.messages);
  if (!check.headerRead) {
    disableOpen();
    return;
  }

  const HeaderOutcome& h = check.header;
  Text7->setPlainText(ToQt(whatRead.empty() ? h.infoText() : whatRead + kCrLf + h.infoText()));
  std::string summary = h.summary;
  // A refused file already has its message (or the depth label): a preview
  // that cannot be decoded then adds none, so one file gives one message.
  const bool refused = !h.accepted;
  bool previewFailed = false;
  if (!h.refusedAsBroken) {
    if (Check1->isChecked()) {
      QImageReader reader(ToQt(check.path));
      reader.setDecideFormatFromContent(true);
      const QImage image = reader.read();
      if (image.isNull()) {
        previewFailed = true;
        Image11->clear();
        // An accepted header whose picture cannot be decoded is refused here.
        if (!refused) ShowMessage(this, NonStandardFormatMessage());
      } else {
        const int w = image.width(), hgt = image.height();
        QImage shown = image;
        if (w >= kFrameW + 1 || hgt >= kFrameH + 1)
          shown = image.scaled(kFrameW, kFrameH, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        Image11->setPixmap(QPixmap::fromImage(shown));
        const std::string scale =
            shown.height() < hgt
                ? "    Уменьшено в " + FormatNumber(static_cast<double>(hgt) / shown.height(), "0.00", DecimalSeparator()) + " раза"
                : std::string("    Масштаб  1:1");
        // The scale text follows the size at the start of the summary.
        const std::string size =
            std::to_string(h.file.header.ImageWidth) + " x " + std::to_string(h.file.header.ImageHeight);
        if (summary.rfind(size, 0) == 0) summary.insert(size.size(), scale);
        else summary += scale;
      }
    } else {
      Image11->clear();
    }
  } else {
    Image11->clear();
  }
  Label1->setText(ToQt(summary));
  ShowMessages(this, h.messages);

  Label4->setVisible(h.showUnsupportedDepth);
  Label4->setText(ToQt(h.unsupportedDepthText));
  Picture1->setVisible(h.hasPalette && !h.showUnsupportedDepth);
  if (h.hasPalette) Picture1->setPalette256(h.file.palette);

  if (previewFailed || refused) {
    disableOpen();
    return;
  }
  for (OpenButtonAction action : h.openButton) {
    switch (action) {
      case OpenButtonAction::StartAnimation:
        if (openEnabled_) Timer0.start();
        break;
      case OpenButtonAction::Disable: disableOpen(); break;
      case OpenButtonAction::EnableIfDisabled:
        if (!openEnabled_) enableOpen();
        break;
    }
  }
  choice_ = h.file;
}

void OpenForm::enableOpen() {
  openEnabled_ = true;
  Picture3->setEnabled(true);
  setStrip(0);
  Timer0.start();
}

void OpenForm::disableOpen() {
  openEnabled_ = false;
  Timer0.stop();
  Picture3->setEnabled(false);
  setStrip(0);
}

void OpenForm::setStrip(int position) {
  strip_ = position;
  Picture3->setPictures(icons::OpenStripFrame(strip_, openEnabled_), icons::OpenStripFrame(strip_, openEnabled_));
}

void OpenForm::Timer0_Timer() {
  if (strip_ <= kStripActive) {
    Timer0.stop();
    return;
  }
  setStrip(strip_ - 26);
  if (strip_ <= kStripActive) Timer0.stop();
}

void OpenForm::Picture3_Click() {
  if (!openEnabled_ || !choice_) return;
  Remembered& m = Memory();
  m.drive = Drive1->currentData().toString();
  m.folder = folder_;
  m.fileFolder = folder_;
  if (File1->currentItem()) {
    m.listPosition = File1->currentRow();
    m.fileName = File1->currentItem()->text();
  }
  Timer0.stop();
  accept();
}

}  // namespace ps::ui
