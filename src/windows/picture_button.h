// A picture used as a button: it shows its normal picture, swaps to the pressed
// picture while the mouse button is down and reports press, release and click to
// callbacks, as the windows' image controls do.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <functional>

namespace ps::ui {

class PictureButton : public QLabel {
 public:
  explicit PictureButton(QWidget* parent = nullptr);

  void setPictures(const QPixmap& normal, const QPixmap& pressed);
  void showNormal();
  void showPressed();
  bool showingPressed() const { return pressed_; }

  // Called with the Qt mouse button; release is followed by click when the
  // pointer is still over the button.
  std::function<void(Qt::MouseButton)> onMouseDown;
  std::function<void(Qt::MouseButton)> onMouseUp;
  std::function<void()> onClick;

  // Presses and releases the button as a user would (used by keyboard access and tests).
  void trigger(Qt::MouseButton button = Qt::LeftButton);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPixmap normal_;
  QPixmap pressedPicture_;
  bool pressed_ = false;
};

}  // namespace ps::ui
