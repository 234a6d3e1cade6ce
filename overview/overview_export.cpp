#include "overview/overview_export.h"

#include <QPainter>

namespace kvx {

bool pictureFormatOf(const std::string& path, PictureFormat& out) {
    (void)path;
    out = PictureFormat::Png;
    return false;
}

bool writeOverviewPicture(const std::string& path, int width, int height, const OverviewSet& set,
                          const OverviewView& view, std::string* error) {
    PictureFormat format;
    if (!pictureFormatOf(path, format)) {
        if (error) *error = path + ": the name must end in .png or .svg";
        return false;
    }
    return writeOverviewPicture(path, format, width, height, set, view, error);
}

bool writeOverviewPicture(const std::string& path, PictureFormat format, int width, int height,
                          const OverviewSet& set, const OverviewView& view, std::string* error) {
    (void)path;
    (void)format;
    (void)width;
    (void)height;
    (void)set;
    (void)view;
    if (error) *error = "not built yet";
    return false;
}

OverviewGeometry paintOverview(QPainter& painter, int width, int height, const OverviewSet& set,
                               const OverviewView& view) {
    (void)painter;
    (void)set;
    OverviewGeometry g;
    g.width = width;
    g.height = height;
    g.from = view.from;
    g.to = view.to;
    return g;
}

}  // namespace kvx
