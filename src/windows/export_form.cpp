#include "windows/export_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QFileDialog>
#include <QInputDialog>
#include <QShortcut>
#include <QKeyEvent>
#include <QBuffer>
#include <QImageWriter>
#include <QSettings>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QGuiApplication>
#include <QScrollBar>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>

#include "display/map_view.h"
#include "imageio/bmp.h"
#include "state/atomic_file.h"
#include "polarization/polarization.h"
#include "sphere/contour.h"
#include "windows/big_picture.h"
#include "windows/help_forms.h"
#include "windows/icons.h"
#include "windows/map_legend.h"
#include "windows/map_press.h"
#include "windows/messages.h"
#include "windows/open_form.h"
#include "windows/picture_button.h"
#include "windows/picture_files.h"
#include "windows/settings_form.h"
#include "windows/zoom_picture.h"

namespace ps::ui {

namespace {

constexpr std::array<int, 4> kAzimuth = {0, 45, 90, 135};
constexpr int kBarLeft = 264;
constexpr int kBarTop = 8;
constexpr int kBarWidth = 466;
constexpr int kBarHeight = 26;
constexpr int kPreviewSize = 61;
constexpr int kStatusLeft = 264;
constexpr int kStatusTop = 226;
constexpr int kStatusWidth = 436;
constexpr int kStatusHeight = 30;
constexpr int kMinWidth = 790;
constexpr int kMinHeight = 500;
constexpr int kOpenWidthLimit = 1600;
constexpr int kOpenHeightLimit = 1000;
// Of the height gained above the smallest window, the map takes this share and
// the source views the rest.
constexpr double kMapShareOfHeight = 0.6;

const char* const kOpenTitles[4] = {
    "Открыть изображение при азимуте поляризатора 0°", "Открыть изображение при азимуте поляризатора 45°",
    "Открыть изображение при азимуте поляризатора 90°", "Открыть изображение при азимуте поляризатора 135°"};

int R(double v) { return static_cast<int>(std::lround(v)); }

QColor ToQColor(Colour c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

QLabel* NewLabel(QWidget* parent, const QString& text, int x, int y, int w, int h = 18) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(x, y, w, h);
  return l;
}

}  // namespace

std::function<void(QWidget*, AppState&)>& ExportForm::StatisticsOpener() {
  static std::function<void(QWidget*, AppState&)> opener;
  return opener;
}

QString ExportForm::SampleFolder() {
  QStringList candidates;
  const QByteArray env = qgetenv("POLARSPHERE_SAMPLE_DIR");
  if (!env.isEmpty()) candidates << QString::fromLocal8Bit(env);
  const QString exe = QCoreApplication::applicationDirPath();
  candidates << exe + "/../data/sample" << exe + "/data/sample";
#ifdef PS_SAMPLE_DIR
  candidates << QString::fromUtf8(PS_SAMPLE_DIR);
#endif
  for (const QString& c : candidates)
    if (QFileInfo::exists(c + "/0.bmp") && QFileInfo::exists(c + "/135.bmp")) return QDir(c).canonicalPath();
  return {};
}

ExportForm::ExportForm(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
  setWindowTitle(AppTitle());
  setWindowIcon(icons::AppIcon());
  // The smallest window is the classic layout; it opens as large as the
  // screen comfortably allows and grows the views and the map with it.
  setMinimumSize(kMinWidth, kMinHeight);

  // Start-up: a new, empty set.
  state_.startNewSet();
  state_.IntensityMode = kModeMean;
  state_.SelectionLeft = 1;
  state_.SelectionTop = 1;
  state_.SelectionRight = std::min(state_.Header.ImageWidth, 20);
  state_.SelectionBottom = std::min(state_.Header.ImageHeight, 20);
  state_.Detection = DetectionSettings{};
  ds_.DecimalSeparator = DecimalSeparator();
  ds_.MarkerPulse = 0;
  preview_ = RasterSurface(kPreviewSize, kPreviewSize, Rgb(255, 255, 255));
  press_ = NewPressSession();

  buildControls();
  clearReadouts();
  updateCommands();
  Timer2.setInterval(200);
  connect(&Timer2, &QTimer::timeout, this, [this] { Timer2_Timer(); });
  Timer2.start();
  QSize size(kMinWidth, kMinHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize room = screen->availableGeometry().size() - QSize(40, 70);  // frame and panel
    size = size.expandedTo(room.boundedTo(QSize(kOpenWidthLimit, kOpenHeightLimit)));
  }
  resize(size);
  relayout();
}

ExportForm::~ExportForm() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
  bgCancel_ = true;
  if (background_.joinable()) background_.join();
  if (busy_) QApplication::restoreOverrideCursor();
}

void ExportForm::closeEvent(QCloseEvent* event) {
  cancel_ = true;
  QWidget::closeEvent(event);
}

void ExportForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  relayout();
}

void ExportForm::relayout() {
  // While work runs, the worker reads the layout: it changes once the work ends.
  if (busy_) {
    layoutPending_ = true;
    return;
  }
  layoutPending_ = false;
  laidOutSize_ = size();
  const int dw = std::max(0, width() - kMinWidth);
  const int dh = std::max(0, height() - kMinHeight);
  const int mapGain = R(dh * kMapShareOfHeight);
  ViewArea area;
  area.MapWidth = kMapMaxWidth + dw;
  area.MapHeight = kMapMaxHeight + mapGain;
  area.SourceTop = kSourceViewTop + mapGain;
  area.SourceWidth = kSourceViewMaxWidth + dw / 4;
  area.SourceHeight = kSourceViewMaxHeight + (dh - mapGain);
  for (size_t k = 0; k < 4; ++k) area.SourceLeft[k] = kSourceViewLeft[k] + static_cast<double>(k * (dw / 4));
  ds_.Area = area;

  // Controls tied to the right or bottom edge move with it.
  Picture12->move(width() - (kMinWidth - 716), 40);
  Legend->move(width() - 82, 104);
  CommandSaveMap->move(width() - 82, 198);
  CommandNew->move(176, 258 + mapGain);
  CommandFrame->move(4, 258 + mapGain);
  StatusCircle->setGeometry(kStatusLeft, kStatusTop + mapGain, kStatusWidth + dw, kStatusHeight);
  for (QLabel* l : {Label10, Label11, Label2, Label3, Label16}) l->move(l->x(), 476 + dh);

  // Views already shown take their new room.
  bool shown = mapShown_;
  for (int slot = 1; slot <= 4; ++slot)
    if (!ViewPictures[static_cast<size_t>(slot - 1)]->image().isNull()) {
      LayoutSourceView(ds_, state_, slot);
      shown = true;
    }
  if (mapShown_) LayoutMap(ds_, state_);
  if (shown) applyDisplay();
}

std::vector<Message> ExportForm::processChosenDefinition(const Progress& progress) {
  ProcessOptions options;
  options.definitions = DefinitionBit(DefinitionForMode(state_.IntensityMode));
  return ProcessSet(state_, options, progress).messages;
}

void ExportForm::startBackground() {
  if (bgRunning_ || !state_.setComplete() || state_.ResultMap.empty()) return;
  const unsigned missing = kAllDefinitions & ~ProcessedDefinitions(state_.ResultMap);
  if (missing == 0) return;
  bgCancel_ = false;
  bgRunning_ = true;
  background_ = std::thread([this, missing] {
    ProcessOptions options;
    options.definitions = missing;
    options.addToMap = true;
    Progress progress;
    progress.cancel = &bgCancel_;
    try {
      ProcessSet(state_, options, progress);
    } catch (const std::exception& e) {
      // The chosen definition is on screen; the others are processed again
      // when asked for (finishBackground leaves them missing).
      std::fprintf(stderr, "polarsphere: %s\n", e.what());
    }
    QMetaObject::invokeMethod(this, [this] { finishBackground(); }, Qt::QueuedConnection);
  });
}

void ExportForm::finishBackground(bool cancel) {
  if (!bgRunning_) return;
  if (cancel) bgCancel_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (background_.joinable()) background_.join();
  QApplication::restoreOverrideCursor();
  bgRunning_ = false;
  // A definition chosen while the others were missing: processed now if the
  // background did not complete them.
  if (!cancel && state_.setComplete() && !state_.ResultMap.empty() &&
      !(ProcessedDefinitions(state_.ResultMap) & DefinitionBit(DefinitionForMode(state_.IntensityMode)))) {
    ProcessOptions options;
    options.definitions = DefinitionBit(DefinitionForMode(state_.IntensityMode));
    options.addToMap = true;
    showMessages(ProcessSet(state_, options).messages);
  }
}

unsigned ExportForm::fitZoomToMap() {
  const int32_t zoom = ZoomFittingArea(ds_.Area, state_);
  if (zoom == state_.ZoomFactor) return kRedrawNone;
  return TypedScale(ds_, state_, std::to_string(zoom * 100));
}

void ExportForm::buildControls() {
  // Azimuth buttons.
  for (int k = 0; k < 4; ++k) {
    auto* b = new PictureButton(this);
    b->setGeometry(4 + k * 58, 4, icons::kButtonSize + 8, icons::kButtonSize + 8);
    b->setToolTip(QString::fromUtf8(kOpenTitles[k]));
    const int slot = k + 1;
    b->onMouseDown = [this, slot](Qt::MouseButton) {
      if (!busy_) setAzimuthLook(slot, true);
    };
    b->onMouseUp = [this, slot](Qt::MouseButton) { AzimuthMouseUp(slot); };
    AzimuthButtons[static_cast<size_t>(k)] = b;
  }
  Image4 = AzimuthButtons[0];
  Image5 = AzimuthButtons[1];
  Image9 = AzimuthButtons[2];
  Image13 = AzimuthButtons[3];
  for (int s = 1; s <= 4; ++s) setAzimuthLook(s, false);

  auto command = [this](icons::Kind kind, int x, const char* tip) {
    auto* b = new PictureButton(this);
    b->setGeometry(x, 62, icons::kButtonSize, icons::kButtonSize);
    b->setPictures(icons::Button(kind, false), icons::Button(kind, true));
    b->setToolTip(QString::fromUtf8(tip));
    return b;
  };
  Image1 = command(icons::Kind::Settings, 4, "Непосредственно экспорт в таблицу");
  Image2 = command(icons::Kind::FullSize, 54, "Отменить и вернуться к открытию файлов");
  Image3 = command(icons::Kind::Help, 104, "Справка о настройках в этом окне");
  Image19 = command(icons::Kind::Sphere, 154, "Представить в виде шара");
  Image19->hide();

  Image1->onMouseDown = [this](Qt::MouseButton) {
    if (!busy_) Image1->showPressed();
  };
  Image1->onMouseUp = [this](Qt::MouseButton) {
    if (busy_) return;
    finishBackground();
    {
      ФормаНастроек settings(state_, this);
      settings.exec();
    }
    Image1->showNormal();
    // What is shown ("Изменение поляризации") and the kernels it uses may have
    // changed: the map shows them at once.
    if (mapShown_) redraw(kRedrawMap);
  };
  Image2->onClick = [this] {
    if (busy_ || !mapShown_) return;
    БольшаяКартинка big(map_, this);
    big.exec();
  };
  Image3->onClick = [this] {
    HelpExportForm help(this);
    help.exec();
  };
  Image19->onMouseDown = [this](Qt::MouseButton) { Image19->showPressed(); };
  Image19->onMouseUp = [this](Qt::MouseButton) {
    Image19->showNormal();
    if (busy_) return;
    finishBackground();  // the statistics read every definition
    if (StatisticsOpener()) StatisticsOpener()(this, state_);
    else
      ShowMessage(this, Message{"Окно статистики в этой сборке отсутствует.", "", MessageIcon::Information});
  };

  CommandSample = new QPushButton(QString::fromUtf8("Открыть пример"), this);
  CommandSample->setGeometry(204, 62, 56, 44);
  CommandSample->setToolTip(QString::fromUtf8("Загрузить прилагаемый пример: четыре снимка 0°, 45°, 90° и 135°"));
  CommandSample->setStyleSheet(QStringLiteral("font-size: 9px;"));
  CommandSample->setText(QString::fromUtf8("Открыть\nпример"));
  connect(CommandSample, &QPushButton::clicked, this, [this] { OpenSample(); });

  CommandNew = new QPushButton(QString::fromUtf8("Новый набор"), this);
  CommandNew->setGeometry(176, 258, 84, 22);
  CommandNew->setToolTip(QString::fromUtf8("Закрыть снимки и начать новый набор (любого размера)"));
  CommandNew->setStyleSheet(QStringLiteral("font-size: 10px;"));
  connect(CommandNew, &QPushButton::clicked, this, [this] { NewSet(); });

  CommandFrame = new QPushButton(QString::fromUtf8("Открыть кадр камеры…"), this);
  CommandFrame->setGeometry(4, 258, 168, 22);
  CommandFrame->setToolTip(
      QString::fromUtf8("Один кадр поляризационной камеры (PNG, TIFF, BMP): разделить на снимки 0°, 45°, 90° и 135°"));
  CommandFrame->setStyleSheet(QStringLiteral("font-size: 10px;"));
  connect(CommandFrame, &QPushButton::clicked, this, [this] { OpenFrame(); });

  Command1 = new QPushButton(QString::fromUtf8("Контур"), this);
  Command1->setGeometry(264, 8, 80, 26);
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

  Label9 = NewLabel(this, QString::fromUtf8("Масштаб"), 644, 12, 60);
  Text1 = new QLineEdit(this);
  Text1->setGeometry(706, 8, 60, 24);
  Label9->hide();
  Text1->hide();
  connect(Text1, &QLineEdit::returnPressed, this, [this] { Text1_Change(); });
  connect(Text1, &QLineEdit::editingFinished, this, [this] {
    if (Text1->isModified()) Text1_Change();
  });

  Label6 = NewLabel(this, QString::fromUtf8("ВЫЧИСЛЯТЬ ИНТЕНСИВНОСТЬ КАК :"), 4, 112, 256);
  Option4 = new QRadioButton(QString::fromUtf8("Среднее арифметическое"), this);
  Option5 = new QRadioButton(QString::fromUtf8("Максимальное значение"), this);
  Option6 = new QRadioButton(QString::fromUtf8("Яркость = 0,299 R + 0,587 G + 0,114 B"), this);
  Option4->setGeometry(4, 130, 258, 20);
  Option5->setGeometry(4, 150, 258, 20);
  Option6->setGeometry(4, 170, 258, 20);
  QFont small = font();
  small.setPixelSize(11);
  for (QWidget* w : {static_cast<QWidget*>(Label6), static_cast<QWidget*>(Option4), static_cast<QWidget*>(Option5),
                     static_cast<QWidget*>(Option6)})
    w->setFont(small);
  Option4->setChecked(true);
  connect(Option4, &QRadioButton::toggled, this, [this](bool on) { if (on) Option_Click(); });
  connect(Option5, &QRadioButton::toggled, this, [this](bool on) { if (on) Option_Click(); });
  connect(Option6, &QRadioButton::toggled, this, [this](bool on) { if (on) Option_Click(); });
  for (QWidget* w : {static_cast<QWidget*>(Label6), static_cast<QWidget*>(Option4), static_cast<QWidget*>(Option5),
                     static_cast<QWidget*>(Option6)})
    w->hide();

  Check1 = new QCheckBox(QString::fromUtf8("Сетка"), this);
  Check1->setGeometry(4, 196, 90, 20);
  Check2 = new QCheckBox(QString::fromUtf8("Эллипсы поляризации"), this);
  Check2->setGeometry(4, 216, 250, 20);
  Check3 = new QCheckBox(QString::fromUtf8("Выделять калибровочный шар в ручную"), this);
  Check3->setGeometry(4, 236, 258, 20);
  Check3->setFont(small);
  Check4 = new QCheckBox(QString::fromUtf8("контур + изобранение"), this);
  Check4->setGeometry(350, 10, 166, 20);
  Check5 = new QCheckBox(QString::fromUtf8("Автоконтраст"), this);
  Check5->setGeometry(518, 10, 120, 20);
  CheckRefine = new QCheckBox(QString::fromUtf8("Уточнять окружность"), this);
  CheckRefine->setGeometry(96, 196, 166, 20);
  CheckRefine->setFont(small);
  CheckRefine->setToolTip(QString::fromUtf8(
      "После подбора окружности по границе или по трём точкам уточнить её по перепаду яркости вдоль лучей из центра"));
  CheckRefine->setChecked(QSettings().value(QStringLiteral("circle/refine"), true).toBool());
  // The user's click is remembered for the next start.
  connect(CheckRefine, &QCheckBox::clicked, this,
          [](bool on) { QSettings().setValue(QStringLiteral("circle/refine"), on); });
  StatusCircle = NewLabel(this, {}, kStatusLeft, kStatusTop, kStatusWidth, kStatusHeight);
  StatusCircle->setFont(small);
  StatusCircle->setWordWrap(true);
  StatusCircle->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  StatusCircle->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Legend = new MapLegend(this);
  Legend->move(kMinWidth - 82, 104);
  CommandSaveMap = new QPushButton(QString::fromUtf8("Сохранить карту…"), this);
  CommandSaveMap->setGeometry(kMinWidth - 82, 198, 80, 28);
  CommandSaveMap->setText(QString::fromUtf8("Сохранить\nкарту…"));
  CommandSaveMap->setStyleSheet(QStringLiteral("font-size: 9px;"));
  CommandSaveMap->setToolTip(QString::fromUtf8("Сохранить карту в том виде, как она показана, в файл PNG"));
  connect(CommandSaveMap, &QPushButton::clicked, this, [this] { SaveMapAs(); });
  // A box or option clicked during work is applied when the work ends.
  connect(Check1, &QCheckBox::clicked, this, [this](bool) { applyOptions(); });
  connect(Check2, &QCheckBox::clicked, this, [this](bool) { applyOptions(); });

  // Readouts and the preview ellipse.
  Label10 = NewLabel(this, {}, 4, 476, 70);
  Label11 = NewLabel(this, {}, 78, 476, 70);
  Label2 = NewLabel(this, {}, 152, 476, 190);
  Label3 = NewLabel(this, {}, 346, 476, 160);
  Label16 = NewLabel(this, {}, 510, 476, 270);
  Picture12 = new QLabel(this);
  Picture12->setGeometry(716, 40, kPreviewSize, kPreviewSize);
  Picture12->setFrameShape(QFrame::Box);

  // The four source views.
  for (int k = 0; k < 4; ++k) {
    auto* port = new QWidget(this);
    port->setGeometry(R(kSourceViewLeft[static_cast<size_t>(k)]), R(kSourceViewTop), 153, 169);
    port->setAutoFillBackground(true);
    port->hide();
    auto* pic = new ZoomPicture(port);
    pic->setCursor(icons::ViewPointer());
    const int slot = k + 1;
    pic->onMouseDown = [this, slot](int button, double x, double y) { ViewMouseDown(slot, button, x, y); };
    pic->onMouseMove = [this, slot](double x, double y) { ViewMouseMove(slot, x, y); };
    pic->onCtrlWheel = [this, slot](int steps, double x, double y) { WheelZoom(slot, steps, x, y); };
    auto* vbar = new QScrollBar(Qt::Vertical, this);
    auto* hbar = new QScrollBar(Qt::Horizontal, this);
    vbar->hide();
    hbar->hide();
    connect(vbar, &QScrollBar::valueChanged, this, [this, slot](int v) {
      if (applying_ || busy_) return;
      ScrollSourceV(ds_, slot, v);
      applyScrollValues();
    });
    connect(hbar, &QScrollBar::valueChanged, this, [this, slot](int v) {
      if (applying_ || busy_) return;
      ScrollSourceH(ds_, slot, v);
      applyScrollValues();
    });
    ViewPorts[static_cast<size_t>(k)] = port;
    ViewPictures[static_cast<size_t>(k)] = pic;
    VScrolls[static_cast<size_t>(k)] = vbar;
    HScrolls[static_cast<size_t>(k)] = hbar;
  }

  // The map.
  Picture10 = new QWidget(this);
  Picture10->setGeometry(R(kMapLeft), R(kMapTop), R(kMapMaxWidth), R(kMapMaxHeight));
  Picture10->hide();
  Picture11 = new ZoomPicture(Picture10);
  Picture11->setCursor(Qt::CrossCursor);
  Picture11->setFocusPolicy(Qt::ClickFocus);  // keys then reach the window
  Picture11->onMouseDown = [this](int button, double x, double y) { MapMouseDown(button, x, y); };
  Picture11->onMouseMove = [this](double x, double y) { MapMouseMove(x, y); };
  Picture11->onCtrlWheel = [this](int steps, double x, double y) { WheelZoom(0, steps, x, y); };
  buildShortcuts();
  Выделение = new SelectionMarker(Picture11);
  Выделение->hide();
  VScroll5 = new QScrollBar(Qt::Vertical, this);
  HScroll5 = new QScrollBar(Qt::Horizontal, this);
  VScroll5->hide();
  HScroll5->hide();
  connect(VScroll5, &QScrollBar::valueChanged, this, [this](int v) {
    if (applying_ || busy_) return;
    ScrollMapV(ds_, v);
    applyScrollValues();
  });
  connect(HScroll5, &QScrollBar::valueChanged, this, [this](int v) {
    if (applying_ || busy_) return;
    ScrollMapH(ds_, v);
    applyScrollValues();
  });

  // Progress of reading and computing.
  Picture1 = new ProgressBar(this);
  Picture1->setGeometry(kBarLeft, kBarTop, 1, kBarHeight);
  Picture1->hide();
  Picture1->onClick = [this] {
    // The user can move the bar out of the way and back.
    if (Picture1->y() == kBarTop) Picture1->move(Picture1->x(), kBarTop + Picture1->height());
    else Picture1->move(Picture1->x(), kBarTop);
  };
  BarShrink.setInterval(8);
  connect(&BarShrink, &QTimer::timeout, this, [this] {
    if (Picture1->height() > 1) {
      Picture1->resize(Picture1->width(), Picture1->height() - 1);
      return;
    }
    BarShrink.stop();
    Picture1->hide();
    Picture1->resize(1, kBarHeight);
  });
  Image6 = new QLabel(this);
  Image6->setPixmap(icons::ReadingPicture());
  Image6->setGeometry(kBarLeft - 34, kBarTop - 3, 32, 32);
  Image6->hide();
}

void ExportForm::buildShortcuts() {
  auto key = [this](const QKeySequence& k, std::function<void()> f) {
    auto* s = new QShortcut(k, this);
    connect(s, &QShortcut::activated, this, std::move(f));
  };
  for (int slot = 1; slot <= 4; ++slot)
    key(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + slot)), [this, slot] { AzimuthMouseUp(slot); });
  key(QKeySequence(Qt::CTRL | Qt::Key_O), [this] { OpenFrame(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { OpenSample(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_N), [this] { NewSet(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { SaveMapAs(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_K), [this] { Command1_Click(); });
  key(QKeySequence(Qt::Key_F1), [this] {
    HelpExportForm help(this);
    help.exec();
  });
}

void ExportForm::keyPressEvent(QKeyEvent* event) {
  // Keys no control took (the scale box types + and -, option buttons move
  // with the arrows): zoom about the middle of the map, scroll by a cell.
  const auto middle = [this](int steps) {
    WheelZoom(0, steps, -ds_.Map.Left + ds_.MapViewport.Width / 2, -ds_.Map.Top + ds_.MapViewport.Height / 2);
  };
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: middle(1); break;
    case Qt::Key_Minus: middle(-1); break;
    case Qt::Key_Left: ScrollByKey(-1, 0); break;
    case Qt::Key_Right: ScrollByKey(1, 0); break;
    case Qt::Key_Up: ScrollByKey(0, -1); break;
    case Qt::Key_Down: ScrollByKey(0, 1); break;
    default: QWidget::keyPressEvent(event); return;
  }
  event->accept();
}

void ExportForm::WheelZoom(int slot, int steps, double x, double y) {
  if (busy_ || steps == 0 || !state_.anySlotLoaded()) return;
  if (slot == 0 && !mapShown_) return;
  const int z0 = state_.ZoomFactor;
  // Where the pointer is in the viewport, and in cells.
  const double left = slot == 0 ? ds_.Map.Left : ds_.Views[static_cast<size_t>(slot - 1)].Picture.Left;
  const double top = slot == 0 ? ds_.Map.Top : ds_.Views[static_cast<size_t>(slot - 1)].Picture.Top;
  const double vx = x + left, vy = y + top;
  const double cx = x / z0, cy = y / z0;
  unsigned flags;
  if (slot > 0) {
    flags = ZoomByMouse(ds_, state_, slot, steps > 0 ? 1 : 2);  // as a click on the view
    ds_.Views[static_cast<size_t>(slot - 1)].Pointer = ViewPointer::Normal;
  } else {
    flags = TypedScale(ds_, state_, std::to_string((z0 + (steps > 0 ? 1 : -1)) * 100));
    ds_.GridEnabled = state_.ZoomFactor > 2;
  }
  if (flags == kRedrawNone || state_.ZoomFactor == z0) {
    applyDisplay();
    return;
  }
  redraw(flags, [this, slot, cx, cy, vx, vy] {
    const int z1 = state_.ZoomFactor;
    const int h = static_cast<int>(std::lround(cx * z1 - vx)), v = static_cast<int>(std::lround(cy * z1 - vy));
    if (slot == 0) {
      ScrollMapH(ds_, std::clamp(h, ds_.HScroll5.Min, std::max(ds_.HScroll5.Min, ds_.HScroll5.Max)));
      ScrollMapV(ds_, std::clamp(v, ds_.VScroll5.Min, std::max(ds_.VScroll5.Min, ds_.VScroll5.Max)));
    } else {
      const SourceView& view = ds_.Views[static_cast<size_t>(slot - 1)];
      ScrollSourceH(ds_, slot, std::clamp(h, view.HBar.Min, std::max(view.HBar.Min, view.HBar.Max)));
      ScrollSourceV(ds_, slot, std::clamp(v, view.VBar.Min, std::max(view.VBar.Min, view.VBar.Max)));
    }
    applyScrollValues();
  });
}

void ExportForm::ScrollByKey(int dx, int dy) {
  if (busy_ || !mapShown_) return;
  const int z = state_.ZoomFactor;
  if (dx != 0 && ds_.HScroll5.Visible) ScrollMapH(ds_, std::clamp(ds_.HScroll5.Value + dx * z, ds_.HScroll5.Min, ds_.HScroll5.Max));
  if (dy != 0 && ds_.VScroll5.Visible) ScrollMapV(ds_, std::clamp(ds_.VScroll5.Value + dy * z, ds_.VScroll5.Min, ds_.VScroll5.Max));
  applyScrollValues();
}

void ExportForm::setAzimuthLook(int slot, bool pressed) {
  const bool subtract = state_.SubtractNext[static_cast<size_t>(slot - 1)];
  const int deg = kAzimuth[static_cast<size_t>(slot - 1)];
  PictureButton* b = AzimuthButtons[static_cast<size_t>(slot - 1)];
  b->setPictures(icons::Azimuth(deg, false, subtract), icons::Azimuth(deg, true, subtract));
  if (pressed) b->showPressed();
  else b->showNormal();
}

void ExportForm::clearReadouts() {
  Text1->clear();
  for (QLabel* l : {Label2, Label3, Label16, Label10, Label11}) l->clear();
}

void ExportForm::showMessages(const std::vector<Message>& messages) { ShowMessages(this, messages); }

void ExportForm::Option_Click() {
  Label16->setVisible(true);
  applyOptions();
}

void ExportForm::applyOptions() {
  // While work runs the state belongs to it; the boxes keep the user's choice
  // and it is taken as soon as the work ends (see runBusy).
  if (busy_) {
    optionsPending_ = true;
    return;
  }
  optionsPending_ = false;
  unsigned flags = kRedrawNone;
  const int32_t mode = Option5->isChecked() ? kModeMax : Option6->isChecked() ? kModeLuma : kModeMean;
  if (mode != state_.IntensityMode) {
    finishBackground();  // the other definitions are shown once complete
    state_.IntensityMode = mode;
    if (mapShown_) flags |= kRedrawMap;
  }
  if (Check1->isChecked() != ds_.Grid) {
    ds_.Grid = Check1->isChecked();
    flags |= GridClicked(ds_, state_);
  }
  if (Check2->isChecked() != ds_.Ellipses) {
    ds_.Ellipses = Check2->isChecked();
    // Ticked or unticked, the map shows the change at once.
    flags |= EllipsesClicked(ds_, state_) | (mapShown_ ? kRedrawMap : kRedrawNone);
  }
  redraw(flags);
}

void ExportForm::updateCommands() {
  // Long work (reading, processing, contour) leaves no command that could act
  // on the set; commands that need a map wait for one.
  const bool free = !(busy_ && longWork_);
  for (PictureButton* b : AzimuthButtons) b->setEnabled(free);
  for (QWidget* w : {static_cast<QWidget*>(CommandSample), static_cast<QWidget*>(CommandNew),
                     static_cast<QWidget*>(CommandFrame),
                     static_cast<QWidget*>(Image1), static_cast<QWidget*>(Image19), static_cast<QWidget*>(Text1)})
    w->setEnabled(free);
  // A bar moved during long work would not move its picture.
  for (QScrollBar* b : VScrolls) b->setEnabled(free);
  for (QScrollBar* b : HScrolls) b->setEnabled(free);
  VScroll5->setEnabled(free);
  HScroll5->setEnabled(free);
  CommandSaveMap->setEnabled(!busy_ && mapShown_);
  Image2->setEnabled(free && mapShown_);
  Command1->setEnabled(free && mapShown_);
}

// ---------------------------------------------------------------- worker ---

void ExportForm::runBusy(std::function<void(const Progress&)> work, std::function<void()> done, bool showBar) {
  // A hidden window gets its resize events only when shown: the work sees the
  // layout of the size the window has now.
  if (size() != laidOutSize_) relayout();
  busy_ = true;
  longWork_ = showBar;
  updateCommands();
  cancel_ = false;
  BarShrink.stop();
  Picture1->hide();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (showBar) {
    Picture1->resize(1, kBarHeight);
    Picture1->show();
    Picture1->raise();
    Image6->show();
  }
  auto lastShown = std::make_shared<std::atomic<int>>(-1);
  Progress progress;
  progress.cancel = &cancel_;
  progress.report = [this, lastShown](long long doneCount, long long total) {
    if (total <= 0) return;
    const int width = static_cast<int>(doneCount * kBarWidth / total);
    // Only changes of the bar's width are sent to the window.
    if (lastShown->exchange(width) == width) return;
    // The bar appears with the first report, so quick work shows only the pointer.
    QMetaObject::invokeMethod(
        this,
        [this, width] {
          if (!busy_) return;
          Picture1->resize(std::max(1, width), Picture1->height());
          if (Picture1->isHidden()) {
            Picture1->show();
            Picture1->raise();
          }
        },
        Qt::QueuedConnection);
  };
  auto error = std::make_shared<std::optional<Message>>();
  worker_ = std::thread([this, work = std::move(work), progress, error, done = std::move(done)]() mutable {
    try {
      work(progress);
    } catch (const std::exception& e) {
      // The user gets a Russian message saying what to do; the exception's
      // own text is for the developer's log only.
      std::fprintf(stderr, "polarsphere: %s\n", e.what());
      *error = FailureMessage(e);
    }
    QMetaObject::invokeMethod(
        this,
        [this, error, done = std::move(done)] {
          if (worker_.joinable()) worker_.join();
          busy_ = false;
          longWork_ = false;
          QApplication::restoreOverrideCursor();
          finishBar();
          if (*error) ShowMessage(this, **error);
          if (done) done();
          updateCommands();
          if (!busy_ && layoutPending_) relayout();
          if (!busy_ && optionsPending_) applyOptions();
        },
        Qt::QueuedConnection);
  });
}

void ExportForm::finishBar() {
  Image6->hide();
  if (Picture1->isHidden()) return;
  // The bar folds up in 25 steps, then hides.
  BarShrink.start();
}

bool ExportForm::waitIdle(int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while ((busy_ || bgRunning_) && t.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (busy_ || bgRunning_) QThread::msleep(2);
  }
  QCoreApplication::processEvents();
  return !busy_ && !bgRunning_;
}

void ExportForm::renderOnWorker(unsigned flags) {
  for (int slot = 1; slot <= 4; ++slot)
    if (flags & RedrawViewFlag(slot)) Uvelichenie(views_[static_cast<size_t>(slot - 1)], ds_, state_, slot);
  if ((flags & kRedrawMap) && state_.setComplete() && !state_.ResultMap.empty())
    UvelicheniePolyarizacii(map_, ds_, state_);
}

void ExportForm::redraw(unsigned flags, std::function<void()> then) {
  if (flags == kRedrawNone) {
    if (then) then();
    return;
  }
  runBusy([this, flags](const Progress&) { renderOnWorker(flags); },
          [this, flags, then = std::move(then)] {
            pendingFlags_ |= flags;
            applyDisplay();
            if (then) then();
          },
          false);
}

void ExportForm::applyDisplay() {
  applying_ = true;
  const unsigned flags = pendingFlags_;
  pendingFlags_ = 0;
  for (int k = 0; k < 4; ++k) {
    const int slot = k + 1;
    const SourceView& v = ds_.Views[static_cast<size_t>(k)];
    QWidget* port = ViewPorts[static_cast<size_t>(k)];
    ZoomPicture* pic = ViewPictures[static_cast<size_t>(k)];
    if (flags & RedrawViewFlag(slot)) pic->setImage(ToImage(views_[static_cast<size_t>(k)]));
    const bool shown = v.Viewport.Visible && !pic->image().isNull();
    port->setGeometry(R(v.Viewport.Left), R(v.Viewport.Top), R(v.Viewport.Width), R(v.Viewport.Height));
    port->setVisible(shown);
    pic->setGeometry(R(v.Picture.Left), R(v.Picture.Top), R(v.Picture.Width), R(v.Picture.Height));
    switch (v.Pointer) {
      case ViewPointer::Normal: pic->setCursor(icons::ViewPointer()); break;
      case ViewPointer::ZoomIn: pic->setCursor(icons::ZoomInPointer()); break;
      case ViewPointer::ZoomOut: pic->setCursor(icons::ZoomOutPointer()); break;
    }
    QScrollBar* vb = VScrolls[static_cast<size_t>(k)];
    QScrollBar* hb = HScrolls[static_cast<size_t>(k)];
    vb->setRange(v.VBar.Min, v.VBar.Max);
    vb->setValue(v.VBar.Value);
    vb->setSingleStep(std::max(1, v.VBar.SmallChange));
    vb->setPageStep(R(v.Viewport.Height));
    vb->setGeometry(R(v.VBar.Left), R(v.Viewport.Top), 16, R(v.Viewport.Height));
    vb->setVisible(shown && v.VBar.Visible);
    hb->setRange(v.HBar.Min, v.HBar.Max);
    hb->setValue(v.HBar.Value);
    hb->setSingleStep(std::max(1, v.HBar.SmallChange));
    hb->setPageStep(R(v.Viewport.Width));
    hb->setGeometry(R(v.Viewport.Left), R(v.HBar.Top), R(v.Viewport.Width), 16);
    hb->setVisible(shown && v.HBar.Visible);
  }

  if (flags & kRedrawMap && map_.width() > 0) {
    Picture11->setImage(ToImage(map_));
    mapShown_ = true;
  }
  if (mapShown_) {
    Picture10->setGeometry(R(ds_.MapViewport.Left), R(ds_.MapViewport.Top), R(ds_.MapViewport.Width),
                           R(ds_.MapViewport.Height));
    Picture10->setVisible(ds_.MapViewport.Visible);
    Picture11->setGeometry(R(ds_.Map.Left), R(ds_.Map.Top), R(ds_.Map.Width), R(ds_.Map.Height));
    VScroll5->setRange(ds_.VScroll5.Min, ds_.VScroll5.Max);
    VScroll5->setValue(ds_.VScroll5.Value);
    VScroll5->setSingleStep(std::max(1, ds_.VScroll5.SmallChange));
    VScroll5->setPageStep(R(ds_.MapViewport.Height));
    VScroll5->setGeometry(R(ds_.VScroll5.Left), R(ds_.MapViewport.Top), 16, R(ds_.MapViewport.Height));
    VScroll5->setVisible(ds_.VScroll5.Visible);
    HScroll5->setRange(ds_.HScroll5.Min, ds_.HScroll5.Max);
    HScroll5->setValue(ds_.HScroll5.Value);
    HScroll5->setSingleStep(std::max(1, ds_.HScroll5.SmallChange));
    HScroll5->setPageStep(R(ds_.MapViewport.Width));
    HScroll5->setGeometry(R(ds_.MapViewport.Left), R(ds_.HScroll5.Top), R(ds_.MapViewport.Width), 16);
    HScroll5->setVisible(ds_.HScroll5.Visible);
    Выделение->setGeometry(R(ds_.Marker.Left), R(ds_.Marker.Top), R(ds_.Marker.Width), R(ds_.Marker.Height));
    Выделение->setVisible(ds_.Marker.Visible);
  }

  Text1->setText(QString::fromStdString(ds_.ScaleText));
  Text1->setModified(false);
  Label9->setVisible(ds_.ScaleVisible);
  Text1->setVisible(ds_.ScaleVisible);
  Check1->setEnabled(ds_.GridEnabled);
  for (QWidget* w : {static_cast<QWidget*>(Label6), static_cast<QWidget*>(Option4), static_cast<QWidget*>(Option5),
                     static_cast<QWidget*>(Option6)})
    w->setVisible(ds_.IntensityOptionsVisible);
  Image19->setVisible(ds_.SphereButtonVisible);
  if (mapShown_)
    Legend->show(state_.Detection.ShowMode == 1 ? MapLegend::Kind::Change
                 : ds_.Ellipses                   ? MapLegend::Kind::Ellipses
                                                  : MapLegend::Kind::None,
                 state_.Detection.EllipticitySensitivity, state_.Detection.AzimuthSensitivity);
  else
    Legend->show(MapLegend::Kind::None);
  updateCommands();
  applying_ = false;
}

void ExportForm::applyScrollValues() {
  applying_ = true;
  for (int k = 0; k < 4; ++k) {
    const SourceView& v = ds_.Views[static_cast<size_t>(k)];
    ViewPictures[static_cast<size_t>(k)]->move(R(v.Picture.Left), R(v.Picture.Top));
    VScrolls[static_cast<size_t>(k)]->setValue(v.VBar.Value);
    HScrolls[static_cast<size_t>(k)]->setValue(v.HBar.Value);
  }
  Picture11->move(R(ds_.Map.Left), R(ds_.Map.Top));
  VScroll5->setValue(ds_.VScroll5.Value);
  HScroll5->setValue(ds_.HScroll5.Value);
  applying_ = false;
}

// -------------------------------------------------------------- handlers ---

void ExportForm::AzimuthMouseUp(int slot) {
  if (busy_) return;
  setAzimuthLook(slot, false);
  // Only the open button takes a file; any other way of closing the window
  // leaves the set exactly as it was.
  std::optional<CheckedFile> choice;
  {
    OpenForm form(state_, this);
    form.setWindowTitle(QString::fromUtf8(kOpenTitles[slot - 1]));
    if (form.exec() == QDialog::Accepted) choice = form.choice();
  }
  if (!choice) return;
  finishBackground(true);  // a file taken into a complete set processes it anew
  auto outcome = std::make_shared<SlotAssignmentOutcome>();
  auto flags = std::make_shared<unsigned>(0);
  const bool firstMap = !mapShown_;
  runBusy(
      [this, slot, outcome, flags, firstMap, file = *choice](const Progress& progress) {
        *outcome = AssignSlot(state_, slot, file, progress);
        if (outcome->pixels.read) *flags |= RedrawViewFlag(slot);
        if (outcome->processNow) {
          const std::vector<Message> refused = processChosenDefinition(progress);
          outcome->pixels.messages.insert(outcome->pixels.messages.end(), refused.begin(), refused.end());
          *flags |= kRedrawMap;
          if (firstMap) *flags |= fitZoomToMap();
        }
        renderOnWorker(*flags);
      },
      [this, slot, outcome, flags] {
        // The grid box follows the zoom of the set (a new first file sets it).
        if (outcome->pixels.read) ds_.GridEnabled = state_.ZoomFactor > 2;
        pendingFlags_ |= *flags;
        applyDisplay();
        setAzimuthLook(slot, false);
        if (outcome->processNow) startBackground();
        showMessages(outcome->pixels.messages);
      },
      true);
}

void ExportForm::clearSetDisplay() {
  press_ = NewPressSession();
  ds_.SphereButtonVisible = false;
  ds_.IntensityOptionsVisible = false;
  ds_.MarkerTimerStarted = false;
  ds_.Marker.Visible = false;
  mapShown_ = false;
  map_ = RasterSurface();
  for (RasterSurface& v : views_) v = RasterSurface();
  Picture10->hide();
  Picture11->setImage({});
  Выделение->hide();
  for (QWidget* p : ViewPorts) p->hide();
  for (ZoomPicture* p : ViewPictures) p->setImage({});
  for (QScrollBar* b : VScrolls) b->hide();
  for (QScrollBar* b : HScrolls) b->hide();
  VScroll5->hide();
  HScroll5->hide();
  Picture12->clear();
  StatusCircle->clear();
  clearReadouts();
}

void ExportForm::LoadFiles(const std::vector<std::string>& paths) {
  if (busy_) return;
  finishBackground(true);  // the set is about to be replaced
  auto outcome = std::make_shared<SetLoadOutcome>();
  auto flags = std::make_shared<unsigned>(0);
  runBusy(
      [this, paths, outcome, flags](const Progress& progress) {
        // The state changes only when all four files were read.
        *outcome = LoadSet(state_, paths, progress);
        if (!outcome->ok) return;
        ds_.SphereButtonVisible = false;  // the new set has no circle yet
        for (int s = 1; s <= 4; ++s) *flags |= RedrawViewFlag(s);
        outcome->messages = processChosenDefinition(progress);
        *flags |= kRedrawMap | fitZoomToMap();
        ds_.GridEnabled = state_.ZoomFactor > 2;
        renderOnWorker(*flags);
      },
      [this, outcome, flags] {
        if (outcome->ok) {
          // A new set: the presses and readouts of the earlier set are forgotten.
          press_ = NewPressSession();
          clearReadouts();
          StatusCircle->clear();
          Picture12->clear();
          pendingFlags_ = *flags;
          applyDisplay();
          for (int s = 1; s <= 4; ++s) setAzimuthLook(s, false);
          startBackground();
        }
        showMessages(outcome->messages);
      },
      true);
}

void ExportForm::NewSet() {
  if (busy_) return;
  if (state_.anySlotLoaded() &&
      !AskYesNo(this, Message{std::string("Начать новый набор?") + kCrLf +
                                  "Открытые снимки и полученные по ним результаты будут закрыты.",
                              "Новый набор", MessageIcon::Question}))
    return;
  finishBackground(true);
  state_.emptySet();
  const DisplayState old = ds_;
  ds_ = DisplayState{};
  ds_.DecimalSeparator = old.DecimalSeparator;
  ds_.Grid = old.Grid;
  ds_.Ellipses = old.Ellipses;
  ds_.Area = old.Area;
  clearSetDisplay();
  for (int s = 1; s <= 4; ++s) setAzimuthLook(s, false);
  applyDisplay();
}

void ExportForm::OpenSample() {
  const QString folder = SampleFolder();
  if (folder.isEmpty()) {
    ShowMessage(this, Message{"Пример (папка data/sample) не найден.", "", MessageIcon::Exclamation});
    return;
  }
  std::vector<std::string> paths;
  for (int deg : kAzimuth) paths.push_back(ToStd(folder + "/" + QString::number(deg) + ".bmp"));
  LoadFiles(paths);
}

void ExportForm::SaveMapAs() {
  if (busy_ || !mapShown_) return;
  QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8("Сохранить карту"),
                                              QSettings().value(QStringLiteral("map/folder")).toString() +
                                                  QString::fromUtf8("/карта.png"),
                                              QString::fromUtf8("Изображения PNG (*.png)"));
  if (path.isEmpty()) return;  // cancelled: nothing written
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".png");
  QSettings().setValue(QStringLiteral("map/folder"), QFileInfo(path).absolutePath());
  SaveMap(path);
}

bool ExportForm::SaveMap(const QString& path) {
  if (busy_ || !mapShown_ || map_.width() <= 0) return false;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  std::string error;
  if (!writer.write(ToImage(map_))) {
    error = "Не удалось закодировать карту в PNG: " + ToStd(writer.errorString());
  } else if (!WriteFileAtomically(ToStd(path), std::string_view(png.constData(), static_cast<size_t>(png.size())),
                                  &error)) {
    error = "Карта не сохранена: " + error;
  } else {
    return true;
  }
  ShowMessage(this, Message{error, "", MessageIcon::Exclamation});
  return false;
}

MosaicPattern ExportForm::RememberedPattern() {
  MosaicPattern pattern;
  const QString text = QSettings().value(QStringLiteral("frame/pattern")).toString();
  std::string error;
  MosaicPattern stored;
  if (!text.isEmpty() && ParseMosaicPattern(ToStd(text), &stored, &error)) pattern = stored;
  return pattern;
}

void ExportForm::OpenFrame() {
  if (busy_) return;
  QStringList filters;
  for (const QString& f : FrameNameFilters()) filters << f;
  const QString path = QFileDialog::getOpenFileName(
      this, QString::fromUtf8("Открыть кадр поляризационной камеры"), QSettings().value(QStringLiteral("frame/folder")).toString(),
      QString::fromUtf8("Кадры (") + filters.join(QStringLiteral(" ")) + QString::fromUtf8(");;Все файлы (*)"));
  if (path.isEmpty()) return;
  // The four block layouts sensors use; the last one chosen comes first.
  QStringList patterns = {QStringLiteral("90,45,135,0"), QStringLiteral("0,45,135,90"), QStringLiteral("45,90,0,135"),
                          QStringLiteral("135,0,90,45")};
  const QString last = ToQt(FormatMosaicPattern(RememberedPattern()));
  patterns.removeAll(last);
  patterns.prepend(last);
  bool ok = false;
  const QString text = QInputDialog::getItem(
      this, QString::fromUtf8("Расположение поляризаторов"),
      QString::fromUtf8("Азимуты пикселей блока 2 x 2\n(строка 0: столбцы 0, 1; строка 1: столбцы 0, 1):"), patterns,
      0, true, &ok);
  if (!ok) return;
  MosaicPattern pattern;
  std::string error;
  if (!ParseMosaicPattern(ToStd(text), &pattern, &error)) {
    ShowMessage(this, Message{"Расположение поляризаторов не распознано: нужны четыре азимута 0, 45, 90 и 135 через "
                              "запятую, каждый по одному разу.",
                              "", MessageIcon::Exclamation});
    return;
  }
  QSettings().setValue(QStringLiteral("frame/folder"), QFileInfo(path).absolutePath());
  LoadFrame(path, pattern);
}

void ExportForm::LoadFrame(const QString& path, const MosaicPattern& pattern) {
  if (busy_) return;
  QSettings().setValue(QStringLiteral("frame/pattern"), ToQt(FormatMosaicPattern(pattern)));
  std::string error;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::vector<std::string> files = SplitFrameToFiles(path, pattern, &error);
  QApplication::restoreOverrideCursor();
  if (files.empty()) {
    ShowMessage(this, Message{error, "", MessageIcon::Exclamation});
    return;
  }
  LoadFiles(files);
}

void ExportForm::Text1_Change() {
  if (busy_ || applying_) return;
  const unsigned flags = TypedScale(ds_, state_, ToStd(Text1->text()));
  // The grid box follows the zoom whichever way it was set.
  ds_.GridEnabled = state_.ZoomFactor > 2;
  Text1->setText(QString::fromStdString(ds_.ScaleText));
  Text1->setModified(false);
  redraw(flags);
}

void ExportForm::ViewMouseDown(int slot, int button, double, double) {
  if (busy_) return;
  const unsigned flags = ZoomByMouse(ds_, state_, slot, button);
  if (flags == kRedrawNone) {
    applyDisplay();  // only the pointer may have changed
    return;
  }
  ViewPictures[static_cast<size_t>(slot - 1)]->setCursor(
      ds_.Views[static_cast<size_t>(slot - 1)].Pointer == ViewPointer::ZoomOut ? icons::ZoomOutPointer()
                                                                               : icons::ZoomInPointer());
  redraw(flags, [this, slot] {
    ds_.Views[static_cast<size_t>(slot - 1)].Pointer = ViewPointer::Normal;
    ViewPictures[static_cast<size_t>(slot - 1)]->setCursor(icons::ViewPointer());
  });
}

void ExportForm::ViewMouseMove(int slot, double x, double y) {
  if (busy_) return;
  SourceReadout(ds_, state_, slot, x, y);
  Label10->setText(ToQt(ds_.Label10));
  Label11->setText(ToQt(ds_.Label11));
  Label16->setText(ToQt(ds_.Label16));
  Label2->setText(ToQt(ds_.Label2));
  Label3->setText(ToQt(ds_.Label3));
}

void ExportForm::MapMouseMove(double x, double y) {
  if (busy_ || !mapShown_) return;
  MapReadout(ds_, state_, x, y, preview_);
  Label10->setText(ToQt(ds_.Label10));
  Label11->setText(ToQt(ds_.Label11));
  Label2->setText(ToQt(ds_.Label2));
  Label3->setText(ToQt(ds_.Label3));
  Label16->setText(ToQt(ds_.Label16));
  Picture12->setPixmap(QPixmap::fromImage(ToImage(preview_)));
  Picture12->show();
}

void ExportForm::MapMouseDown(int button, double x, double y) {
  if (busy_ || !mapShown_ || button == 0) return;
  const int mode = Check3->isChecked() ? 1 : 0;
  auto outcome = std::make_shared<MapPressOutcome>();
  const std::string sep = DecimalSeparator();
  const bool refine = CheckRefine->isChecked();
  runBusy(
      [this, outcome, x, y, mode, sep, refine](const Progress& progress) {
        *outcome = RunMapPress(*press_, state_, x, y, mode, sep, map_, progress, refine);
      },
      [this, outcome] {
        if (outcome->fitRan) {
          StatusCircle->setText(ToQt(outcome->statusLine));
          StatusCircle->setToolTip(StatusCircle->text());
        }
        if (outcome->selectionChanged) PlaceSelectionMarker(ds_, state_);
        if (outcome->circleChanged || outcome->circleCleared) ds_.SphereButtonVisible = state_.Circle.exists();
        pendingFlags_ |= kRedrawMap;
        applyDisplay();
        showMessages(outcome->messages);
      },
      false);
}

void ExportForm::Command1_Click() {
  if (busy_ || !mapShown_ || state_.ResultMap.empty()) return;
  finishBackground();  // the contour writes layers of the map being completed
  const bool autocontrast = Check5->isChecked();
  const bool withImage = Check4->isChecked();
  runBusy(
      [this, autocontrast, withImage](const Progress& progress) {
        if (!ContourResponse(state_, autocontrast, progress)) return;
        // The contour is drawn cell by cell over the map.
        const int zoom = state_.ZoomFactor;
        for (int x = 1; x <= state_.ResultMap.width(); ++x)
          for (int y = 1; y <= state_.ResultMap.height(); ++y) {
            const ContourPointStyle style = ContourPointColour(state_.ResultMap, x, y, autocontrast, withImage);
            if (style.drawn) DrawCellMark(map_, zoom, x, y, static_cast<Colour>(style.colour) | kPaletteFlag);
          }
      },
      [this] {
        pendingFlags_ |= kRedrawMap;
        applyDisplay();
      },
      true);
}

void ExportForm::Timer2_Timer() {
  if (busy_ || !ds_.MarkerTimerStarted) return;
  Выделение->setColour(ToQColor(MarkerPulseStep(ds_)));
}

}  // namespace ps::ui
