#pragma once
// The overview saved as a picture: PNG through display's QtSurface, SVG through QSvgGenerator
// (Qt SVG). A QGuiApplication must exist (fonts need it), as for QtSurface.
//
// Use: writeOverviewPicture("day.svg", 1920, 1080, set, view, &error) picks the format by the
// name's ending (.png or .svg, case does not matter).
#include <string>

#include "overview/overview_plot.h"

class QPainter;

namespace kvx {

enum class PictureFormat { Png, Svg };

// The format a file name asks for; false for any other ending.
bool pictureFormatOf(const std::string& path, PictureFormat& out);

// False with *error ("cannot write FILE: ...", "FILE: the name must end in .png or .svg").
// *drawn (when given) receives the picture's geometry: its strips are those that fitted.
bool writeOverviewPicture(const std::string& path, int width, int height, const OverviewSet& set,
                          const OverviewView& view, std::string* error,
                          OverviewGeometry* drawn = nullptr);
bool writeOverviewPicture(const std::string& path, PictureFormat format, int width, int height,
                          const OverviewSet& set, const OverviewView& view, std::string* error,
                          OverviewGeometry* drawn = nullptr);

// Draws the overview through any QPainter (a PDF page, a printer) as vectors: the picture's
// top-left corner at the painter's origin, width x height in its logical units, fonts in
// pixels of those units (as on screen: 13 and 11). On a PDF page, scale the painter so that
// width x height fill the wanted area, e.g. 1600 x 900 units into the text width.
// The smallest lettering paintOverview sets, in the picture's units: a page that must show no
// text under N points draws the picture at N / this points per unit or more.
int overviewSmallestTextSize();

OverviewGeometry paintOverview(QPainter& painter, int width, int height, const OverviewSet& set,
                               const OverviewView& view);

}  // namespace kvx
