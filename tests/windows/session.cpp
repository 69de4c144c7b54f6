// A whole session in the analysis window: the four sample files chosen through
// the selection window, the map drawn, zoom out and in, typed scale, readouts,
// "Контур" and the full-size window.
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

class SessionTest : public QObject {
  Q_OBJECT

 private slots:
  void wholeSession() {
    wt::Messages messages;
    AppState state;
    ExportForm form(state);
    form.show();

    // Empty set at start: no map, no sphere button, mean definition.
    QVERIFY(!form.mapShown() && form.Image19->isHidden() && form.Option4->isChecked());
    QCOMPARE(state.IntensityMode, static_cast<int32_t>(kModeMean));

    const char* degrees[4] = {"0", "45", "90", "135"};
    for (int k = 0; k < 4; ++k) {
      const wt::Choice c = wt::ChooseFile(form, k + 1, PS_SAMPLE_DIR, QString("%1.bmp").arg(degrees[k]));
      QCOMPARE(c.title, QString("Открыть изображение при азимуте поляризатора %1°").arg(degrees[k]));
      QVERIFY2(c.openEnabled, qPrintable(c.summary));
      QVERIFY(c.summary.startsWith(QString("%1 x %2").arg(state.SetWidth).arg(state.SetHeight)));
      QVERIFY(state.SlotLoaded[static_cast<size_t>(k)]);
      QCOMPARE(form.mapShown(), k == 3);
    }
    QVERIFY(messages.seen.empty());
    QVERIFY(state.SubtractNext[0] && state.SubtractNext[3]);  // a 24-bit load arms subtraction

    const int W = state.SetWidth, H = state.SetHeight;
    // Opened at a zoom that shows the map whole; typed up to the largest the set allows.
    QVERIFY(state.ZoomFactor <= FitZoom(9, W, H));
    wt::TypeScale(form, QString::number(FitZoom(9, W, H) * 100));
    const int zoom = state.ZoomFactor;
    QCOMPARE(zoom, FitZoom(9, W, H));
    QCOMPARE(QSize(form.mapSurface().width(), form.mapSurface().height()), QSize(zoom * W, zoom * H));
    QCOMPARE(form.Text1->text(), QString::number(zoom * 100));

    // Out by the right button on a view, in again by a real left click on the 45° view.
    form.ViewMouseDown(1, 2, 3, 3);
    QVERIFY(form.waitIdle());
    QCOMPARE(state.ZoomFactor, zoom - 1);
    QTest::mouseClick(form.ViewPictures[1], Qt::LeftButton, {}, QPoint(3, 3));
    QVERIFY(form.waitIdle());
    QCOMPARE(state.ZoomFactor, zoom);

    const int Z = state.ZoomFactor;
    // Readout over the map and over a source view.
    form.MapMouseMove((10 - 1) * Z + 1, (20 - 1) * Z + 1);
    QCOMPARE(form.Label10->text() + form.Label11->text(), QString("Х:  10Y:  20"));
    QVERIFY(form.Label2->text().startsWith("Угол элл-ти = ±") && form.Label3->text().startsWith("Азимут = "));
    QVERIFY(form.Label16->text().startsWith("Интенсивность = "));
    form.ViewMouseMove(2, (5 - 1) * Z, (6 - 1) * Z);
    QCOMPARE(form.Label10->text(), QString("Х:  5"));
    QVERIFY(form.Label2->text().isEmpty());

    // "Контур" writes the contour response; a press next to the edge is refused.
    QVERIFY(!state.ResultMap.hasStorage(19));
    wt::Click(form, form.Command1);
    QVERIFY(state.ResultMap.hasStorage(19));
    form.MapMouseDown(1, 0, 0);
    QVERIFY(form.waitIdle());
    QCOMPARE(messages.TakeOne(), QString("Не ближе, чем за 1 точку к краю"));

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
  }
};

QTEST_MAIN(SessionTest)
#include "session.moc"
