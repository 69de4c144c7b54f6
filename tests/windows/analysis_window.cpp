// The analysis window as today's users meet it: it grows with its frame and
// opens a set at a zoom that shows the whole map, takes polarization-camera
// frames and single PNG/TIFF photographs, reports the fitted circle under the
// map, saves the map as drawn and shows a legend of its colours.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include "display/view_state.h"
#include "state/app_state.h"
#include "windows/export_form.h"
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

namespace {

void LoadSample(ExportForm& form) {
  form.CommandSample->click();
  QVERIFY(form.waitIdle());
  QVERIFY(form.state().setComplete());
}

}  // namespace

class AnalysisWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (ExportForm::SampleFolder().isEmpty()) QSKIP("no sample set");
  }

  // The sample (320 x 240, zoom 6 by the set's rule) opened in windows of
  // several sizes: the zoom is the largest that shows the whole map (1 when
  // none does), the map's viewport and the views grow with the window, and a
  // resize after loading gives the shown map its new room.
  void windowSizeSetsRoomAndZoom_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("zoom");
    QTest::newRow("smallest") << 790 << 500 << 1;
    QTest::newRow("wide, low") << 1600 << 600 << 1;
    QTest::newRow("room for zoom 2") << 1100 << 1100 << 2;
    QTest::newRow("room for zoom 3") << 1400 << 1500 << 3;
  }
  void windowSizeSetsRoomAndZoom() {
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, zoom);
    AppState state;
    ExportForm form(state);
    QCOMPARE(form.minimumSize(), QSize(790, 500));
    form.resize(w, h);
    LoadSample(form);
    QCOMPARE(state.ZoomFactor, zoom);
    const ViewArea& area = form.display().Area;
    QCOMPARE(area.MapWidth, 425.0 + (w - 790));
    QVERIFY(area.MapHeight >= 169 && area.SourceHeight >= 169);
    QCOMPARE(area.MapHeight + area.SourceHeight, 169.0 + 169.0 + (h - 500));
    // The map is shown whole along a side that fits, else its viewport fills
    // the area that way and a scroll bar appears.
    const bool widthFits = zoom * 320 <= area.MapWidth, heightFits = zoom * 240 <= area.MapHeight;
    const bool fits = widthFits && heightFits;
    QCOMPARE(form.HScroll5->isHidden(), widthFits);
    QCOMPARE(form.VScroll5->isHidden(), heightFits);
    QCOMPARE(form.Picture10->width(), widthFits ? zoom * 320 : int(area.MapWidth));
    QCOMPARE(form.Picture10->height(), heightFits ? zoom * 240 : int(area.MapHeight));

    // Grown afterwards: the map and the views take the room, nothing redrawn.
    const QSize mapBefore = form.Picture10->size();
    const int viewBefore = form.ViewPorts[0]->width() + form.ViewPorts[0]->height();
    form.resize(w + 300, h + 300);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.waitIdle());
    QCOMPARE(state.ZoomFactor, zoom);
    QVERIFY(form.Picture10->width() >= mapBefore.width() && form.Picture10->height() >= mapBefore.height());
    QVERIFY(form.Picture10->size() != mapBefore || fits);
    QVERIFY(form.ViewPorts[0]->width() + form.ViewPorts[0]->height() >= viewBefore);
    QVERIFY(form.ViewPorts[3]->geometry().right() < form.width());
  }
};

QTEST_MAIN(AnalysisWindowTest)
#include "analysis_window.moc"
