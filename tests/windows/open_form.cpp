// The image selection window on its own: folders and name pattern, the file
// check with its summary, preview and palette, the open button and the
// remembered place.
#include "window_test_support.h"

using namespace ps;
using namespace ps::ui;

namespace {

QStringList Items(QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text().trimmed();
  return out;
}

}  // namespace

class OpenFormTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  wt::Messages messages_;

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QDir(dir_.path()).mkdir("sub");
    wt::WriteFile(dir_.filePath("a.bmp"), wt::Bmp24(100, 100, 10, 20, 30));
    wt::WriteFile(dir_.filePath("B.BMP"), wt::Bmp24(530, 322, 1, 2, 3));
    wt::WriteFile(dir_.filePath("c.Bmp"), wt::Bmp8(100, 100));
    wt::WriteFile(dir_.filePath("d.txt"), "hi");
    wt::WriteFile(dir_.filePath("e.bmp"), wt::Bmp24(100, 100, 200, 200, 200));
  }

  void init() { messages_.Take(); }

  void drivesFoldersAndPattern() {
    AppState state;
    OpenForm f(state, nullptr);
    QVERIFY(f.Drive1->findData("/") >= 0 && f.Drive1->findData(QDir::homePath()) >= 0);
    QVERIFY(f.setFolder(dir_.path()));
    QCOMPARE(f.Text5->text(), QDir(dir_.path()).canonicalPath());
    QVERIFY(Items(f.Dir1).contains("sub"));
    // "*.BMP" finds the bitmaps whatever the case of their extension.
    QCOMPARE(Items(f.File1), (QStringList{"a.bmp", "B.BMP", "c.Bmp", "e.bmp"}));
    f.ComboPattern->setCurrentIndex(1);
    QVERIFY(Items(f.File1).contains("d.txt"));
    f.ComboPattern->setCurrentIndex(0);
    QVERIFY(!Items(f.File1).contains("d.txt"));
    // A folder that does not exist is refused with a message and changes nothing.
    QVERIFY(!f.setFolder(dir_.filePath("missing")));
    QCOMPARE(messages_.Take().size(), size_t{1});
    QCOMPARE(f.folder(), QDir(dir_.path()).canonicalPath());
    // Entering a subfolder from the folder list.
    QListWidgetItem* sub = f.Dir1->findItems("sub", Qt::MatchEndsWith).value(0);
    QVERIFY(sub);
    emit f.Dir1->itemActivated(sub);
    QVERIFY(f.folder().endsWith("/sub"));
    QCOMPARE(f.File1->count(), 0);
  }

  // The file check: summary, name, information text, the preview reduced to
  // its 265 x 161 frame (or none) and the palette of an 8-bit file.
  void summaryPreviewAndPalette() {
    AppState state;
    OpenForm f(state, nullptr);
    f.setFolder(dir_.path());
    QVERIFY(f.selectFile("c.Bmp"));
    f.Image1_Click();
    QVERIFY(f.Label1->text().endsWith("256 цветов") && !f.Picture1->isHidden());
    // Entry i is (i, 255 - i, 7); entry 200 is the square at column 8, row 6.
    QCOMPARE(f.Picture1->grab().toImage().pixelColor(10 * 8 + 4, 10 * 6 + 4), QColor(200, 55, 7));
    QVERIFY(f.selectFile("a.bmp"));
    f.Image1_Click();
    QCOMPARE(f.Label1->text(), QString("100 x 100    Масштаб  1:1    16 млн. цветов"));
    QCOMPARE(f.Text4->text(), QString("a.bmp"));
    QVERIFY(f.Text7->toPlainText().startsWith("BMP формат - растр Windows"));
    QCOMPARE(f.Image11->pixmap().size(), QSize(100, 100));
    QVERIFY(f.Picture1->isHidden());  // a 24-bit file has no palette
    QVERIFY(messages_.Take().empty());
    QVERIFY(f.selectFile("B.BMP"));
    f.Image1_Click();
    QCOMPARE(f.Label1->text(), "530 x 322    Уменьшено в 2" + QString::fromStdString(DecimalSeparator()) +
                                   "00 раза    16 млн. цветов");
    QCOMPARE(f.Image11->pixmap().size(), QSize(265, 161));
    f.Check1->setChecked(false);
    f.Image1_Click();
    QCOMPARE(f.Label1->text(), QString("530 x 322    16 млн. цветов"));
    QVERIFY(f.Image11->pixmap().isNull());
  }

  void openButtonAnimationAndRefusal() {
    AppState state;
    OpenForm f(state, nullptr);
    QVERIFY(!f.openEnabled());
    f.setFolder(dir_.path());
    QVERIFY(f.selectFile("a.bmp"));
    f.Image1_Click();
    QVERIFY(f.openEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(f.stripPosition(), -260, 3000);  // the open button slides in

    // A 4-bit file (a refused one; loading.cpp checks the other refusals): the depth label.
    QTemporaryDir other;
    wt::WriteFile(other.filePath("four.bmp"), wt::Bmp4(8, 8));
    f.setFolder(other.path());
    QVERIFY(f.selectFile("four.bmp"));
    f.Image1_Click();
    QVERIFY(!f.Label4->isHidden());
    QCOMPARE(f.Label4->text(), QString("16-ти цветное изображение\nне поддерживается."));
    QVERIFY(!f.openEnabled() && f.stripPosition() == 0);
  }

  // While a set is open the window starts at the file last taken, found by
  // name when files added to the folder moved it down the list.
  void theTakenFileIsRememberedWhileASetIsOpen() {
    QTemporaryDir dir;
    for (const char* n : {"a.bmp", "c.bmp", "e.bmp"}) wt::WriteFile(dir.filePath(n), wt::Bmp24(100, 100, 10, 20, 30));
    AppState state;
    {
      OpenForm f(state, nullptr);
      f.setFolder(dir.path());
      QVERIFY(f.selectFile("e.bmp"));
      f.File1_DblClick();
      QVERIFY(f.Label1->text().startsWith("100 x 100"));
      QVERIFY(f.choice() && f.choice()->header.FileSignature == "BM");
      f.Picture3->trigger();
      QCOMPARE(f.result(), int(QDialog::Accepted));
    }
    state.SlotLoaded[0] = true;  // a set in progress
    for (const char* added : {"", "b.bmp"}) {
      if (*added) wt::WriteFile(dir.filePath(added), wt::Bmp24(100, 100, 1, 2, 3));
      OpenForm again(state, nullptr);
      QCOMPARE(again.folder(), QDir(dir.path()).canonicalPath());
      QVERIFY(again.File1->currentItem() && again.File1->currentItem()->text() == "e.bmp");
      QCOMPARE(again.Text4->text(), QString("e.bmp"));
      QVERIFY(again.openEnabled());
      QCOMPARE(again.stripPosition(), -260);
    }
  }
};

QTEST_MAIN(OpenFormTest)
#include "open_form.moc"
