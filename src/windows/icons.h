// The application's own button and pointer artwork, drawn at start-up: simple
// flat pictures, each in a normal and a pressed look.
#pragma once

#include <QCursor>
#include <QPixmap>

namespace ps::ui::icons {

inline constexpr int kButtonSize = 44;

enum class Kind {
  Settings,    // sliders
  FullSize,    // four arrows to the corners
  Help,        // question mark
  Sphere,      // shaded ball
  CheckFile,   // page with a magnifier
  Close,       // door arrow
  PageSwitch,  // two pages
};

// A picture button's look: `pressed` is drawn sunken and darker.
QPixmap Button(Kind kind, bool pressed);

// An azimuth button: a polarizer disc with its transmission axis at `degrees`;
// `subtract` marks that the next file of the slot is subtracted.
QPixmap Azimuth(int degrees, bool pressed, bool subtract);

// The open button's picture strip: frames 26 units high; the strip position p
// (0, -26, ..., -260) selects frame -p / 26 of the animation towards the active
// look, -286 the pressed look.
QPixmap OpenStripFrame(int stripPosition, bool enabled);

// Pointers over the zoomed views: normal, zooming in, zooming out or refused.
QCursor ViewPointer();
QCursor ZoomInPointer();
QCursor ZoomOutPointer();

// The picture shown while a file is read.
QPixmap ReadingPicture();

// The application's window icon.
QPixmap AppIcon();

}  // namespace ps::ui::icons
