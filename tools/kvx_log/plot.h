#pragma once
// kvx-log plot: the overview of log files saved as a PNG or SVG picture, without a window.

namespace kvx {

// argv[1] is "plot"; returns the exit status.
int runPlot(int argc, char** argv);

}  // namespace kvx
