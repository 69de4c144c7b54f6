#include "windows/help_forms.h"

#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>

#include "windows/icons.h"
#include "windows/picture_button.h"

namespace ps::ui {

namespace {

QLabel* Text(QWidget* parent, const char* utf8, int x, int y, int w, int h = 20) {
  auto* l = new QLabel(QString::fromUtf8(utf8), parent);
  l->setGeometry(x, y, w, h);
  l->setWordWrap(true);
  return l;
}

// Small illustrations: a grey gradient strip (mean), a strip of colour maxima
// (maximum) and a weighted strip, drawn here rather than taken from anywhere.
QPixmap Illustration(int kind) {
  QPixmap p(120, 20);
  QPainter g(&p);
  for (int i = 0; i < 12; ++i) {
    const int r = (i * 53) % 256, gr = (i * 97) % 256, b = (i * 151) % 256;
    int v = 0;
    if (kind == 0) v = (r + gr + b) / 3;
    else if (kind == 1) v = std::max({r, gr, b});
    else v = static_cast<int>(0.299 * r + 0.587 * gr + 0.114 * b);
    g.fillRect(i * 10, 0, 10, 10, QColor(r, gr, b));
    g.fillRect(i * 10, 10, 10, 10, QColor(v, v, v));
  }
  return p;
}

// A picture of a small image and the table of brightness numbers made from it.
QPixmap TablePicture(int which) {
  QPixmap p(150, 110);
  p.fill(Qt::white);
  QPainter g(&p);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const int v = 40 + 30 * x + 10 * y + 25 * which;
      if (which % 2 == 0) {
        g.fillRect(5 + x * 23, 5 + y * 20, 22, 19, QColor(std::min(v, 255), 80, 120));
      } else {
        g.setPen(Qt::black);
        g.drawRect(5 + x * 23, 5 + y * 20, 22, 19);
        g.drawText(QRect(5 + x * 23, 5 + y * 20, 22, 19), Qt::AlignCenter, QString::number(std::min(v, 255)));
      }
    }
  return p;
}

}  // namespace

HelpExportForm::HelpExportForm(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8("Справка"));
  setModal(true);
  setFixedSize(520, 300);
  Text(this, "Когда Вы открыли файл нужно:", 12, 10, 480);
  Text(this, "1)  Выбрать область для вывода в таблицу на изображении", 12, 36, 480);
  Text(this, "(левой кнопкой мыши, а правая кнопка изменяет цвет прямоугольника выделения)", 30, 56, 470, 36);
  Text(this, "2)  Задать, какие данные вывести:", 12, 96, 480);
  Text(this, " б) Яркость как среднее арифметическое", 30, 120, 330);
  Text(this, "в) Яркость как максимальное значение из красной зелёной и синей", 30, 146, 330, 36);
  Text(this, "г) Или как", 30, 186, 330);
  for (int k = 0; k < 3; ++k) {
    auto* pic = new QLabel(this);
    pic->setPixmap(Illustration(k));
    pic->setGeometry(370, 120 + k * 33, 120, 20);
  }
  Text(this, "3) В выделнной области левая кнопка мыши увеличивает, а правая уменьшает.", 12, 222, 480, 36);
  Image1 = new PictureButton(this);
  Image1->setGeometry(460, 250, icons::kButtonSize, icons::kButtonSize);
  Image1->setPictures(icons::Button(icons::Kind::Close, false), icons::Button(icons::Kind::Close, true));
  Image1->onClick = [this] { accept(); };
}

HelpOpenForm::HelpOpenForm(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8("Справка"));
  setModal(true);
  setFixedSize(560, 420);

  Text1 = new QPlainTextEdit(this);
  Text1->setGeometry(10, 10, 540, 340);
  Text1->setReadOnly(true);
  Text1->setPlainText(QString::fromUtf8(
      "Содержание\n"
      "   1 Основные сведения\n"
      "   2 Минимальные системные требования\n"
      "\n"
      "1 Основные сведения\n"
      "\n"
      "Программа переносит изображение в таблицу: каждая ячейка таблицы получает яркость "
      "соответствующей точки изображения — красную, зелёную или синюю составляющую, "
      "среднее арифметическое трёх составляющих, их максимальное значение или яркость, "
      "взвешенную как 0,299 R + 0,587 G + 0,114 B.\n"
      "\n"
      "По желанию фон ячеек заливается приблизительным цветом точки. Это медленно, и "
      "таблица знает только 56 цветов, поэтому цвет лишь похож на исходный.\n"
      "\n"
      "Под таблицей записываются строки комментария: имя файла, его размер, какие данные "
      "выведены и из какой области изображения.\n"
      "\n"
      "Для 256-ти цветных файлов в окне открытия показывается их палитра.\n"
      "\n"
      "Выберите устройство, каталог и файл, нажмите кнопку проверки файла, посмотрите "
      "сведения о нём и откройте его кнопкой «Открыть».\n"
      "\n"
      "2 Минимальные системные требования\n"
      "\n"
      "Компьютер с процессором x86-64, 512 Мб оперативной памяти, экран 1024 x 768, "
      "операционная система Linux с графической средой (X11 или Wayland), библиотека Qt 6.\n"));

  const char* captions[3] = {"Принцип её действия такой:", "Исходный файл tyu2.bmp ",
                             "Яркости точек (к примеру) красной составляющей"};
  PageLabels[0] = Text(this, captions[0], 12, 12, 300);
  PageLabels[1] = Text(this, captions[1], 12, 40, 250);
  PageLabels[2] = Text(this, captions[2], 290, 40, 260, 36);
  for (int k = 0; k < 5; ++k) {
    Images[k] = new QLabel(this);
    Images[k]->setPixmap(TablePicture(k));
    Images[k]->setGeometry(12 + (k % 3) * 180, k < 3 ? 80 : 210, 150, 110);
  }

  Image14 = new PictureButton(this);
  Image14->setGeometry(440, 362, icons::kButtonSize, icons::kButtonSize);
  Image14->setPictures(icons::Button(icons::Kind::PageSwitch, false), icons::Button(icons::Kind::PageSwitch, true));
  Image14->onClick = [this] { Image14_Click(); };

  Image8 = new PictureButton(this);
  Image8->setGeometry(500, 362, icons::kButtonSize, icons::kButtonSize);
  Image8->setPictures(icons::Button(icons::Kind::Close, false), icons::Button(icons::Kind::Close, true));
  Image8->onClick = [this] { accept(); };

  // The window opens on the text page.
  for (QLabel* l : PageLabels) l->hide();
  for (QLabel* l : Images) l->hide();
}

bool HelpOpenForm::showingText() const { return !Text1->isHidden(); }

void HelpOpenForm::Image14_Click() {
  const bool toText = Text1->isHidden();
  Text1->setVisible(toText);
  for (QLabel* l : PageLabels) l->setVisible(!toText);
  for (QLabel* l : Images) l->setVisible(!toText);
}

}  // namespace ps::ui
