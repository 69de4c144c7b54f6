// The legend beside the map: what its colours mean. With the polarization
// ellipses, hue is the azimuth and saturation and brightness the axis ratio;
// on the change map, red is the change of the axis ratio, green that of the
// azimuth and violet an undefined polarization. The swatches are painted with
// the map's own colour functions, so the legend cannot drift from the map.
#pragma once

#include <QImage>
#include <QWidget>

namespace ps::ui {

class MapLegend : public QWidget {
 public:
  enum class Kind { None, Ellipses, Change };
  explicit MapLegend(QWidget* parent = nullptr);
  // What the map shows; the legend hides itself for a map without colours.
  void show(Kind kind, double ellipticitySensitivity = 1, double azimuthSensitivity = 1);
  Kind kind() const { return kind_; }
  // The swatch as painted: x azimuth from -90° to 90° (ellipses) or change of
  // the azimuth (change map), y axis ratio from 0 at the top to 1 (ellipses)
  // or change of the axis ratio.
  const QImage& swatch() const { return swatch_; }

  static constexpr int kSwatchWidth = 72;
  static constexpr int kSwatchHeight = 48;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  Kind kind_ = Kind::None;
  QImage swatch_;
};

}  // namespace ps::ui
