// A whole session in the analysis window: the four sample files chosen through
// the selection window, the map drawn, zoom out and in, typed scale, readouts,
// "Контур", a press on the sphere's outline and the circle found; then the
// refusals of the selection window on a set in progress.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <fstream>
#include <map>

#include "state/app_state.h"
#include "windows/big_picture.h"
#include "windows/export_form.h"
#include "windows/open_form.h"
#include "windows/picture_button.h"
#include "windows/zoom_picture.h"
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

namespace {

std::map<std::string, double> ReadTruth() {
  std::map<std::string, double> t;
  std::ifstream in(std::string(PS_SAMPLE_DIR) + "/truth.txt");
  std::string key, rest;
  while (in >> key)
    if (key[0] == '#') std::getline(in, rest);
    else in >> t[key];
  return t;
}

}  // namespace

class SessionTest : public QObject {
  Q_OBJECT

 private slots:
  void wholeSession() {
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    form.show();

    // Empty set at start: no map, no sphere button, mean definition.
    QVERIFY(!form.mapShown());
    QVERIFY(form.Image19->isHidden());
    QCOMPARE(state.IntensityMode, static_cast<int32_t>(kModeMean));
    QVERIFY(form.Option4->isChecked());

    const QString dir = QString::fromUtf8(PS_SAMPLE_DIR);
    const char* names[4] = {"0.bmp", "45.bmp", "90.bmp", "135.bmp"};
    const char* degrees[4] = {"0°", "45°", "90°", "135°"};
    for (int k = 0; k < 4; ++k) {
      const wt::Choice c = wt::ChooseFile(form, k + 1, dir, QString::fromLatin1(names[k]));
      QCOMPARE(c.title, QString::fromUtf8("Открыть изображение при азимуте поляризатора ") + QString::fromUtf8(degrees[k]));
      QVERIFY2(c.openEnabled, qPrintable(c.summary));
      QVERIFY(c.summary.startsWith(QString::number(state.SetWidth) + " x " + QString::number(state.SetHeight)));
      QVERIFY(c.summary.contains(QString::fromUtf8("16 млн. цветов")));
      QVERIFY(state.SlotLoaded[static_cast<size_t>(k)]);
      QCOMPARE(form.mapShown(), k == 3);
    }
    QVERIFY2(messages.seen.empty(), messages.seen.empty() ? "" : messages.seen[0].text.c_str());
    // A 24-bit load arms subtraction for the next file of the slot.
    QVERIFY(state.SubtractNext[0] && state.SubtractNext[3]);

    const int W = state.SetWidth, H = state.SetHeight;
    // The map opened at a zoom that shows it whole; the session goes on at
    // the largest zoom the set allows, typed into the scale box.
    QVERIFY(state.ZoomFactor <= FitZoom(9, W, H));
    form.Text1->setText(QString::number(FitZoom(9, W, H) * 100));
    form.Text1_Change();
    QVERIFY(form.waitIdle());
    const int zoom = state.ZoomFactor;
    QCOMPARE(zoom, FitZoom(9, W, H));
    QVERIFY(zoom * std::max(W, H) < 2001);
    QCOMPARE(form.mapSurface().width(), zoom * W);
    QCOMPARE(form.mapSurface().height(), zoom * H);
    QCOMPARE(form.Text1->text(), QString::number(zoom * 100));
    QVERIFY(!form.Picture10->isHidden());

    // The map shows the intensity in grey: the cell of pixel (x, y) has grey A0.
    const Colour grey = form.mapSurface().pixel((W / 2 - 1) * zoom, (H / 3 - 1) * zoom);
    QCOMPARE(RedOf(grey), GreenOf(grey));
    QVERIFY(std::abs(RedOf(grey) - state.ResultMap.at(W / 2, H / 3, 7)) <= 0.5 + 1e-9);

    // Zoom out by the right button on a view, in again by the left one; the
    // next step in is refused at this size.
    form.ViewMouseDown(1, 2, 3, 3);
    QVERIFY(form.waitIdle());
    QCOMPARE(state.ZoomFactor, zoom - 1);
    QCOMPARE(form.mapSurface().width(), (zoom - 1) * W);
    // In again with a real click of the left button on the 45° view.
    QTest::mouseClick(form.ViewPictures[1], Qt::LeftButton, {}, QPoint(3, 3));
    QVERIFY(form.waitIdle());
    QCOMPARE(state.ZoomFactor, zoom);
    if ((zoom + 1) * std::max(W, H) >= 2000) {
      form.ViewMouseDown(3, 1, 3, 3);
      QVERIFY(form.waitIdle());
      QCOMPARE(state.ZoomFactor, zoom);
    }

    // Typed scale: 350 % rounds to 4 and the box shows 400; nonsense restores it.
    form.Text1->setText("350");
    form.Text1_Change();
    QVERIFY(form.waitIdle());
    QCOMPARE(state.ZoomFactor, 4);
    QCOMPARE(form.Text1->text(), QString("400"));
    QCOMPARE(form.mapSurface().width(), 4 * W);
    form.Text1->setText("abc");
    form.Text1_Change();
    QVERIFY(form.waitIdle());
    QCOMPARE(form.Text1->text(), QString("400"));
    const int Z = state.ZoomFactor;

    // Grid on at zoom 4: the map loses one pixel each way.
    form.Check1->click();
    QVERIFY(form.waitIdle());
    QCOMPARE(form.mapSurface().width(), Z * W - 1);
    form.Check1->click();
    QVERIFY(form.waitIdle());
    QCOMPARE(form.mapSurface().width(), Z * W);

    // Readout over the map and over a source view.
    form.MapMouseMove((10 - 1) * Z + 1, (20 - 1) * Z + 1);
    QCOMPARE(form.Label10->text(), QString::fromUtf8("Х:  10"));
    QCOMPARE(form.Label11->text(), QString::fromUtf8("Y:  20"));
    QVERIFY(form.Label2->text().startsWith(QString::fromUtf8("Угол элл-ти = ±")));
    QVERIFY(form.Label3->text().startsWith(QString::fromUtf8("Азимут = ")));
    QVERIFY(form.Label16->text().startsWith(QString::fromUtf8("Интенсивность = ")));
    form.ViewMouseMove(2, (5 - 1) * Z, (6 - 1) * Z);
    QCOMPARE(form.Label10->text(), QString::fromUtf8("Х:  5"));
    QVERIFY(form.Label2->text().isEmpty());

    // "Контур" writes the contour response.
    QVERIFY(!state.ResultMap.hasStorage(19));
    form.Command1->click();
    QVERIFY(form.waitIdle());
    QVERIFY(state.ResultMap.hasStorage(19));

    // A press on the sphere's outline (the crest of the response beside the
    // rightmost point of the true circle) traces it and fits the circle.
    const auto truth = ReadTruth();
    QVERIFY(truth.count("centre_x") && truth.count("radius"));
    const int ox = static_cast<int>(std::lround(truth.at("centre_x") + truth.at("radius")));
    const int oy = static_cast<int>(std::lround(truth.at("centre_y")));
    int bx = ox, by = oy;
    for (int x = ox - 3; x <= ox + 3; ++x)
      if (state.ResultMap.at(x, oy, 19) < state.ResultMap.at(bx, by, 19)) bx = x;
    QVERIFY(state.ResultMap.at(bx, by, 19) < 0);
    form.MapMouseDown(1, (bx - 1) * Z + Z / 2.0, (by - 1) * Z + Z / 2.0);
    QVERIFY(form.waitIdle());
    QVERIFY(state.Circle.exists());
    for (auto [got, key] : {std::pair{state.Circle.CircleCentreX, "centre_x"},
                            {state.Circle.CircleCentreY, "centre_y"}, {state.Circle.CircleRadius, "radius"}})
      QVERIFY2(std::abs(got - truth.at(key)) <= 3.0, qPrintable(QString("%1 %2").arg(key).arg(got)));
    QVERIFY(!form.Image19->isHidden());
    QCOMPARE(state.SelectionLeft, bx);
    QCOMPARE(state.SelectionTop, by);
    // The circle is drawn on the map in green.
    QVERIFY(wt::GreenOnCircle(form.mapSurface(), (state.Circle.CircleCentreX - 0.5) * Z - 1,
                              (state.Circle.CircleCentreY - 0.5) * Z - 1, state.Circle.CircleRadius * Z) >= 30);
    // The trace may end in a dead end on this noisy outline; the boundary found
    // so far is fitted all the same and only that message is shown.
    for (const Message& m : messages.Take()) QCOMPARE(m.title, std::string("Неожиданное замыкание области"));

    // A press next to the edge is refused with its message.
    form.MapMouseDown(1, 0, 0);
    QVERIFY(form.waitIdle());
    auto edge = messages.Take();
    QCOMPARE(edge.size(), size_t{1});
    QCOMPARE(edge[0].text, std::string("Не ближе, чем за 1 точку к краю"));

    // The full-size window copies the map pixel for pixel.
    bool same = false;
    wt::WhenModal<БольшаяКартинка>([&](БольшаяКартинка* big) {
      same = big->copy().width() == form.mapSurface().width() && big->copy().height() == form.mapSurface().height() &&
             std::equal(big->copy().data(), big->copy().data() + big->copy().stride() * big->copy().height(),
                        form.mapSurface().data());
      big->accept();
    });
    form.Image2->trigger();
    QVERIFY(same);

    // Refusals of the selection window while a set is open.
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    wt::WriteFile(tmp.filePath("small.bmp"), wt::Bmp24(10, 10, 50, 60, 70));
    const std::string text = "just some text, not a picture\n";
    wt::WriteFile(tmp.filePath("text.bmp"), std::vector<uint8_t>(text.begin(), text.end()));
    std::vector<uint8_t> rle = wt::Bmp8(W, H);
    wt::Put32(rle, 30, 1);  // compression code 1 (RLE8)
    wt::WriteFile(tmp.filePath("packed.bmp"), rle);
    wt::WriteFile(tmp.filePath("four.bmp"), wt::Bmp4(W, H));

    QString depthLabel;
    std::vector<bool> openAfter;
    std::vector<std::vector<Message>> seen;
    wt::WhenModal<OpenForm>([&](OpenForm* f) {
      f->setFolder(tmp.path());
      for (const char* n : {"small.bmp", "text.bmp", "packed.bmp", "four.bmp"}) {
        f->selectFile(QString::fromLatin1(n));
        f->Image1_Click();
        openAfter.push_back(f->openEnabled());
        seen.push_back(messages.Take());
      }
      depthLabel = f->Label4->isHidden() ? QString() : f->Label4->text();
      f->reject();
    });
    form.Image4->trigger();
    QVERIFY(form.waitIdle());
    QCOMPARE(seen.size(), size_t{4});
    auto has = [](const std::vector<Message>& ms, const std::string& start) {
      for (const Message& m : ms)
        if (m.text.rfind(start, 0) == 0) return true;
      return false;
    };
    QVERIFY(has(seen[0], "Это изображение другого формата:  10 x 10\r\nА нужно  " + std::to_string(W) + " x " +
                             std::to_string(H)));
    QVERIFY(!openAfter[0]);
    QVERIFY(has(seen[1], "Файл text.bmp не является изображением,\r\nа содержит что-то другое"));
    QVERIFY(has(seen[2], "Изображение с типом сжатия 1\r\n            не поддерживается"));
    QVERIFY(!openAfter[2]);
    QVERIFY(seen[3].empty());
    QCOMPARE(depthLabel, QString::fromUtf8("16-ти цветное изображение\nне поддерживается."));
    QVERIFY(!openAfter[3]);
  }
};

QTEST_MAIN(SessionTest)
#include "session.moc"
