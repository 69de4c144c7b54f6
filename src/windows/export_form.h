// The analysis window: the four azimuth buttons and slot assignment, the four
// zoomed source views, the polarization map with its readouts, the intensity
// definition, the contour command and the presses that find the sphere, and
// the commands that open the other windows. Long computations run on a worker
// thread while the window shows the busy pointer and a progress bar.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "display/surface.h"
#include "display/view_state.h"
#include "imageio/demosaic.h"
#include "state/app_state.h"
#include "state/message.h"
#include "state/progress.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace ps::ui {

class MapLegend;
class PictureButton;
class ProgressBar;
class SelectionMarker;
class ZoomPicture;
struct PressSession;

class ExportForm : public QWidget {
 public:
  explicit ExportForm(AppState& state, QWidget* parent = nullptr);
  ~ExportForm() override;

  // Opens the statistics window for the sphere button; set by whoever provides
  // that window. Without it the button shows a short note.
  static std::function<void(QWidget* owner, AppState& state)>& StatisticsOpener();

  // Folder of the bundled sample set, "" when none is found.
  static QString SampleFolder();

  // --- Controls ---
  std::array<PictureButton*, 4> AzimuthButtons{};  // Image4, Image5, Image9, Image13
  PictureButton* Image4;
  PictureButton* Image5;
  PictureButton* Image9;
  PictureButton* Image13;
  PictureButton* Image1;   // settings window
  PictureButton* Image2;   // full-size window
  PictureButton* Image3;   // help
  PictureButton* Image19;  // present as a sphere
  QPushButton* Command1;   // "Контур"
  QPushButton* CommandSample;  // "Открыть пример"
  QPushButton* CommandNew;     // "Новый набор"
  QPushButton* CommandFrame;   // "Открыть кадр камеры…"
  QLabel* Label6;
  QRadioButton* Option4;
  QRadioButton* Option5;
  QRadioButton* Option6;
  QCheckBox* Check1;  // grid
  QCheckBox* Check2;  // ellipses
  QCheckBox* Check3;  // manual sphere selection
  QCheckBox* Check4;  // contour + image
  QCheckBox* Check5;  // autocontrast
  QCheckBox* CheckRefine;  // "Уточнять окружность" (remembered, on by default)
  QLabel* StatusCircle;    // the circle's figures after every fit, under the map
  MapLegend* Legend;       // the colours of the ellipses or of the change map
  QPushButton* CommandSaveMap;  // "Сохранить карту…"
  QLabel* Label9;
  QLineEdit* Text1;   // scale in percent
  QLabel* Label10;
  QLabel* Label11;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label16;
  QLabel* Picture12;  // preview ellipse
  ProgressBar* Picture1;
  QLabel* Image6;
  std::array<QWidget*, 4> ViewPorts{};       // Picture4, Picture2, Picture6, Picture8
  std::array<ZoomPicture*, 4> ViewPictures{};  // Picture5, Picture3, Picture7, Picture9
  std::array<QScrollBar*, 4> VScrolls{};     // VScroll4, VScroll1, VScroll2, VScroll3 by slot
  std::array<QScrollBar*, 4> HScrolls{};     // HScroll4, HScroll1, HScroll2, HScroll3 by slot
  QWidget* Picture10;        // map viewport
  ZoomPicture* Picture11;    // map
  SelectionMarker* Выделение;
  QScrollBar* VScroll5;
  QScrollBar* HScroll5;
  QTimer Timer2;  // selection marker pulse
  QTimer BarShrink;  // folds the progress bar away after a read

  // --- Handlers, callable directly (tests, keyboard) ---
  // Slot assignment after choosing a file for slot 1..4 (opens the selection window).
  void AzimuthMouseUp(int slot);
  // The same with the selection window driven by `choose` instead of the user;
  // `choose` runs while the window is open and may call its methods.
  void Text1_Change();
  void Command1_Click();
  void MapMouseDown(int button, double x, double y);
  void MapMouseMove(double x, double y);
  void ViewMouseDown(int slot, int button, double x, double y);
  void ViewMouseMove(int slot, double x, double y);
  // Replaces the whole set by the bundled sample set.
  void OpenSample();
  // Loads four files into the slots in one step (sample set, command line) as
  // a new set; a refused file leaves the set on screen as it was.
  void LoadFiles(const std::vector<std::string>& paths);
  // "Открыть кадр камеры…": a frame file, then its mosaic pattern (the last
  // one chosen is offered first), then LoadFrame.
  void OpenFrame();
  // Splits a polarization-camera frame into its four sub-images and loads
  // them as four chosen files would be (LoadFiles); the pattern is remembered.
  void LoadFrame(const QString& path, const MosaicPattern& pattern);
  // The pattern offered first: the one last used, else the sensors' common one.
  static MosaicPattern RememberedPattern();
  // One zoom step in (steps > 0) or out about the pointer at picture
  // position (x, y) of a source view (slot 1..4) or of the map (slot 0): the
  // cell under the pointer stays under it. Ctrl + wheel, and the + and - keys
  // (about the middle of the map).
  void WheelZoom(int slot, int steps, double x, double y);
  // Arrow keys: the map (and the views with it) scrolled by one cell.
  void ScrollByKey(int dx, int dy);
  // "Сохранить карту…": asks for a PNG file name, then SaveMap.
  void SaveMapAs();
  // Writes the map as it is drawn (zoom, grid, ellipses, circle, contour,
  // marks) as a PNG file, whole or not at all; false after a message.
  bool SaveMap(const QString& path);
  // "Новый набор": after a confirmation when a set is loaded, empties the set
  // so that photographs of any size can be opened.
  void NewSet();

  // A computation is running on the worker thread.
  bool busy() const { return busy_; }
  // The intensity definitions not chosen are being processed in the background.
  bool processingInBackground() const { return bgRunning_; }
  // Waits for the background processing (cancelling it with `cancel`).
  void finishBackground(bool cancel = false);
  // Runs the event loop until no computation is running, the background
  // processing included (tests, start-up).
  bool waitIdle(int timeoutMs = 120000);

  const DisplayState& display() const { return ds_; }
  const RasterSurface& mapSurface() const { return map_; }
  AppState& state() { return state_; }
  bool mapShown() const { return mapShown_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void buildControls();
  void buildShortcuts();
  void setAzimuthLook(int slot, bool pressed);
  void runBusy(std::function<void(const Progress&)> work, std::function<void()> done, bool showBar);
  void progressTo(long long done, long long total);
  void finishBar();
  // Redraws what `flags` name (kRedraw*) on the worker and shows the result.
  void redraw(unsigned flags, std::function<void()> then = {});
  void renderOnWorker(unsigned flags);  // worker side of a redraw
  void applyDisplay();                  // shows ds_ and the pictures
  void applyScrollValues();
  void Timer2_Timer();
  void Option_Click();
  // Takes the intensity option and the grid and ellipse boxes into the state
  // and redraws what they change; during work, as soon as it ends.
  void applyOptions();
  // Enables the commands that can act now.
  void updateCommands();
  void clearReadouts();
  // Forgets everything shown of the set ("Новый набор"): views, map, circle, readouts.
  void clearSetDisplay();
  void showMessages(const std::vector<Message>& messages);
  // Places the views, the map and the controls around them for the window's
  // size; during work, as soon as it ends.
  void relayout();
  // Before the first map of a set is drawn: the zoom lowered until the whole
  // map fits into its area. Worker side; returns what to redraw.
  unsigned fitZoomToMap();
  // Worker side: processes the chosen intensity definition only; the other
  // two follow in the background (startBackground) once its map is shown.
  std::vector<Message> processChosenDefinition(const Progress& progress);
  void startBackground();

  AppState& state_;
  DisplayState ds_;
  std::array<RasterSurface, 4> views_;
  RasterSurface map_;
  RasterSurface preview_;
  std::shared_ptr<PressSession> press_;
  std::vector<Message> pendingMessages_;

  bool busy_ = false;
  bool longWork_ = false;        // the running work shows the progress bar
  bool optionsPending_ = false;  // an option or box was clicked during work
  bool mapShown_ = false;
  bool applying_ = false;
  bool layoutPending_ = false;  // the window was resized during work
  QSize laidOutSize_;           // the size relayout() last placed the views for
  std::thread worker_;
  std::thread background_;          // the definitions not chosen, added to the map
  std::atomic<bool> bgCancel_{false};
  bool bgRunning_ = false;
  std::atomic<bool> cancel_{false};
  unsigned pendingFlags_ = 0;
};

}  // namespace ps::ui
