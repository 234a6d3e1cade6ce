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
bool writeOverviewPicture(const std::string& path, int width, int height, const OverviewSet& set,
                          const OverviewView& view, std::string* error);
bool writeOverviewPicture(const std::string& path, PictureFormat format, int width, int height,
                          const OverviewSet& set, const OverviewView& view, std::string* error);

// Draws the overview through any QPainter (a PDF page, a printer): the painter's origin is
// the picture's top-left corner, width x height in the painter's logical units.
OverviewGeometry paintOverview(QPainter& painter, int width, int height, const OverviewSet& set,
                               const OverviewView& view);

}  // namespace kvx
