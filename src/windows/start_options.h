// The application's command line: what to open at start and what to click
// once the map is drawn, parsed apart from the window so that the start can
// be run (and tested) on any analysis window.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "imageio/demosaic.h"

namespace ps::ui {

class ExportForm;

struct StartOptions {
  bool sample = false;             // --sample
  std::vector<std::string> files;  // four photographs, or one camera frame
  QString scale;                   // --scale PERCENT
  bool frame = false;              // one path: a camera frame
  MosaicPattern pattern;           // --pattern, else the one last used
  bool ellipses = false;           // --ellipses
  bool contour = false;            // --contour
  bool manual = false;             // --manual
  QList<double> presses;           // --press X Y, repeatable: cells x, y, x, y...
  std::string problems;            // Russian, one line a problem; "" when none
  bool load = false;               // something is to be opened
};

// Parses the arguments after the program's name.
StartOptions ParseStartOptions(const QStringList& args);

// Opens what the options name in `form`, waits for it, then sets the scale and
// clicks what they ask. Returns false when nothing was opened or the set was
// refused (the message has been shown).
bool ApplyStartOptions(ExportForm& form, const StartOptions& options);

}  // namespace ps::ui
