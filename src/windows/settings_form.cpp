#include "windows/settings_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include "sphere/detection_settings.h"
#include "windows/messages.h"

namespace ps::ui {

namespace {

QLabel* NewLabel(QWidget* parent, const char* utf8, int x, int y, int w, int h = 18) {
  auto* l = new QLabel(QString::fromUtf8(utf8), parent);
  l->setGeometry(x, y, w, h);
  return l;
}

QLineEdit* NewField(QWidget* parent, int x, int y, int w = 58) {
  auto* e = new QLineEdit(parent);
  e->setGeometry(x, y, w, 22);
  return e;
}

// A kernel as a 5 x 5 grid of grey squares, `cell` pixels each, centred.
QPixmap KernelPreview(const std::array<std::array<float, 5>, 5>& kernel, int cell, int size) {
  QPixmap p(size, size);
  p.fill(QColor(212, 208, 200));
  QPainter g(&p);
  const int side = 5 * cell;
  const int x0 = (size - side) / 2, y0 = (size - side) / 2;
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 5; ++c) {
      const int v = PreviewGrey(kernel[static_cast<size_t>(r)][static_cast<size_t>(c)]);
      g.fillRect(x0 + c * cell, y0 + r * cell, cell, cell, QColor(v, v, v));
    }
  return p;
}

// An option button that acts on mouse-down, as the window's options do; the
// keyboard (Space, arrow keys) selects it through `toggled`, bound as well.
class PressOption : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;
  std::function<void()> onPress;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && onPress) onPress();
    QRadioButton::mousePressEvent(event);
  }
};

}  // namespace

ФормаНастроек::ФормаНастроек(AppState& state, QWidget* owner) : QDialog(owner), state_(state) {
  setWindowTitle(QString::fromUtf8("Настройки"));
  setModal(true);
  setFixedSize(640, 470);
  const std::string sep = DecimalSeparator();
  model_ = std::make_unique<DetectionSettingsModel>(state_.Detection, sep);

  NewLabel(this, "Весовые коэффициенты в %:", 10, 8, 300);
  for (int k = 0; k < 25; ++k) {
    QLineEdit* e = NewField(this, 10 + (k % 5) * 62, 30 + (k / 5) * 26);
    const int index = k + 1;
    connect(e, &QLineEdit::textEdited, this, [this, index](const QString& text) {
      model_->EditWeight(index, ToStd(text));
      showFields();
    });
    connect(e, &QLineEdit::editingFinished, this, [this, index] { confirm(model_->ConfirmWeight(index)); });
    Weight[static_cast<size_t>(k)] = e;
  }
  Label2 = NewLabel(this, "", 10, 162, 320);
  Picture2 = new QLabel(this);
  Picture2->setGeometry(330, 30, 100, 100);

  NewLabel(this, "Весовые коэффициенты вычитаемой области в %:", 10, 190, 330);
  for (int k = 0; k < 9; ++k) {
    QLineEdit* e = NewField(this, 72 + (k % 3) * 62, 212 + (k / 3) * 26);
    const int index = k + 1;
    connect(e, &QLineEdit::textEdited, this, [this, index](const QString& text) {
      model_->EditSubtract(index, ToStd(text));
      showFields();
    });
    connect(e, &QLineEdit::editingFinished, this, [this, index] { confirm(model_->ConfirmSubtract(index)); });
    Subtract[static_cast<size_t>(k)] = e;
  }
  Label8 = NewLabel(this, "", 10, 292, 320);
  Picture3 = new QLabel(this);
  Picture3->setGeometry(330, 200, 100, 100);

  Command4 = new QPushButton(QString::fromUtf8("Квадрат"), this);
  Command3 = new QPushButton(QString::fromUtf8("Распределение Гаусса"), this);
  Command2 = new QPushButton(QString::fromUtf8("Гауссовское распределение без центра"), this);
  Command1 = new QPushButton(QString::fromUtf8("Обновить"), this);
  Command4->setGeometry(440, 30, 190, 26);
  Command3->setGeometry(440, 60, 190, 26);
  Command2->setGeometry(440, 90, 190, 40);
  Command1->setGeometry(440, 134, 190, 26);
  Command2->setStyleSheet(QStringLiteral("text-align: center;"));
  Command2->setText(QString::fromUtf8("Гауссовское распределение\nбез центра"));
  Command2->setAccessibleName(QString::fromUtf8("Гауссовское распределение без центра"));
  // Enter confirms the field being edited; no preset is a default button.
  for (QPushButton* b : {Command1, Command2, Command3, Command4}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(Command4, &QPushButton::clicked, this, [this] { model_->ApplyPreset(KernelPreset::Square); showFields(); });
  connect(Command3, &QPushButton::clicked, this, [this] { model_->ApplyPreset(KernelPreset::Gauss); showFields(); });
  connect(Command2, &QPushButton::clicked, this, [this] {
    model_->ApplyPreset(KernelPreset::GaussWithoutCentre);
    showFields();
  });
  connect(Command1, &QPushButton::clicked, this, [this] {
    // Reads the 25 weight fields again, in order, as their change handlers do
    // (the model holds the texts the fields show).
    model_->Refresh();
    showFields();
  });

  NewLabel(this, "ПОКАЗЫВАТЬ:", 440, 176, 190);
  auto* o1 = new PressOption(QString::fromUtf8("Интенсивность"), this);
  auto* o2 = new PressOption(QString::fromUtf8("Изменение поляризации"), this);
  o1->setGeometry(440, 196, 190, 20);
  o2->setGeometry(440, 216, 190, 20);
  o1->onPress = [this] { model_->SelectShowMode(0); showFields(); };
  o2->onPress = [this] { model_->SelectShowMode(1); showFields(); };
  for (auto [option, mode] : {std::pair{o1, 0}, std::pair{o2, 1}})
    connect(option, &QRadioButton::toggled, this, [this, mode](bool on) {
      if (on && !showing_) {
        model_->SelectShowMode(mode);
        showFields();
      }
    });
  Option1 = o1;
  Option2 = o2;

  NewLabel(this, "Чувствительность к изменению эллиптичности", 10, 322, 330);
  Text26 = NewField(this, 340, 320);
  NewLabel(this, "%", 402, 322, 20);
  NewLabel(this, "Чувствительность к изменению азимута", 10, 348, 330);
  Text27 = NewField(this, 340, 346);
  NewLabel(this, "%", 402, 348, 20);
  NewLabel(this, "Поворот направления", 10, 378, 200);
  NewLabel(this, "градиента  <±", 210, 378, 120);
  Text28 = NewField(this, 340, 376);
  NewLabel(this, "°", 402, 378, 20);
  NewLabel(this, "Изменение поворота направления", 10, 404, 220);
  NewLabel(this, " градиента <±", 230, 404, 100);
  NewLabel(this, "на новых точках границы", 10, 420, 220);
  Text29 = NewField(this, 340, 408);
  NewLabel(this, "°", 402, 410, 20);
  NewLabel(this, "Предел отклонения от", 440, 322, 190);
  NewLabel(this, "диаметра", 440, 340, 190);
  Text30 = NewField(this, 440, 362);

  connect(Text26, &QLineEdit::textEdited, this, [this](const QString& t) { model_->EditEllipticity(ToStd(t)); });
  connect(Text27, &QLineEdit::textEdited, this, [this](const QString& t) { model_->EditAzimuth(ToStd(t)); });
  connect(Text26, &QLineEdit::editingFinished, this, [this] { confirm(model_->ConfirmEllipticity()); });
  connect(Text27, &QLineEdit::editingFinished, this, [this] { confirm(model_->ConfirmAzimuth()); });
  connect(Text28, &QLineEdit::textEdited, this, [this](const QString& t) { model_->EditRotationLimit(ToStd(t)); });
  connect(Text29, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_->EditRotationChangeLimit(ToStd(t)); });
  connect(Text30, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_->EditDiameterDeviation(ToStd(t)); });

  model_->Load();
  const DetectionSettingsFields& f = model_->fields();
  Text28->setText(ToQt(f.RotationLimit));
  Text29->setText(ToQt(f.RotationChangeLimit));
  Text30->setText(ToQt(f.DiameterDeviation));
  showFields();
}

ФормаНастроек::~ФормаНастроек() {
  // The fields outlive the model while the dialog base deletes its children.
  for (QLineEdit* e : findChildren<QLineEdit*>()) e->disconnect(this);
}

void ФормаНастроек::confirm(const std::optional<Message>& refusal) {
  // The field already shows the kept value again when the message appears, so
  // the focus moving to the message box confirms nothing a second time.
  showFields();
  if (refusal) ShowMessage(this, *refusal);
}

void ФормаНастроек::showFields() {
  showing_ = true;
  const DetectionSettingsFields& f = model_->fields();
  // Only fields whose text differs are rewritten, so the cursor of the field
  // being typed in stays where it is.
  for (size_t k = 0; k < 25; ++k)
    if (Weight[k]->text() != ToQt(f.Weight[k])) Weight[k]->setText(ToQt(f.Weight[k]));
  for (size_t k = 0; k < 9; ++k)
    if (Subtract[k]->text() != ToQt(f.Subtract[k])) Subtract[k]->setText(ToQt(f.Subtract[k]));
  Label2->setText(ToQt(f.WeightTotal));
  Label8->setText(ToQt(f.SubtractTotal));
  if (Text26->text() != ToQt(f.Ellipticity)) Text26->setText(ToQt(f.Ellipticity));
  if (Text27->text() != ToQt(f.Azimuth)) Text27->setText(ToQt(f.Azimuth));
  Option1->setChecked(f.Option1);
  Option2->setChecked(f.Option2);
  const int cell = std::clamp(state_.ZoomFactor, 1, 19);
  Picture2->setPixmap(KernelPreview(model_->settings().WeightKernel, cell, 100));
  Picture3->setPixmap(KernelPreview(model_->settings().SubtractKernel, cell, 100));
  showing_ = false;
}

}  // namespace ps::ui
