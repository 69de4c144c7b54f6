// The training plot of the statistics window: energy A and energy B of every
// accepted iteration, each on its own vertical scale (A on the left, B on the
// right), drawn with QPainter. Points come from the progress log when the
// window opens and are added live during a run.
#pragma once

#include <QWidget>
#include <vector>

#include "learning/evaluation.h"

namespace ps::ui {

class EnergyPlot : public QWidget {
 public:
  explicit EnergyPlot(QWidget* parent = nullptr);

  void setPoints(std::vector<EnergyPoint> points);
  void addPoints(const std::vector<EnergyPoint>& points);
  const std::vector<EnergyPoint>& points() const { return points_; }

  QSize sizeHint() const override { return {420, 170}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::vector<EnergyPoint> points_;
};

}  // namespace ps::ui
