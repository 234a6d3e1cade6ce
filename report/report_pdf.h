#pragma once
// The service report as a PDF through QPdfWriter: A4 or Letter, laid out so that no text runs
// over a page edge, no table row is split (a table's headings repeat on every page it spans),
// and no text is smaller than 9 pt. The panel is drawn by display's Panel on a QtSurface.
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "display/panel.h"
#include "overview/overview_plot.h"
#include "overview/overview_set.h"
#include "report/report_content.h"

class QPaintDevice;
class QPainter;

namespace kvx {

enum class Paper { A4, Letter };

// The smallest text on a page, in points.
inline constexpr double kReportMinPoints = 9.0;

struct ReportImages {
    // The panel, drawn at panelPictureSize(paper): it gets a landscape page of its own after
    // its section's text and readings, at the scale that sets its lettering at 9 pt or more.
    QImage panel;
    // The overview of the visit, drawn on the page as vectors (its text stays text) into a
    // picture of width x height units that the page scales; empty: none. The layout picks
    // the units so that the overview's smallest lettering (overviewSmallestTextSize()) comes
    // out at kReportMinPoints: the plot is laid out for the page, not shrunk from a screen.
    std::function<void(QPainter&, int width, int height)> overview;
};

// The overview's view of the visit: its whole time range, the default strips.
OverviewView visitOverviewView(const ReportLogs& logs);
// The overview of the set for the view, as ReportImages::overview draws it. The set must
// outlive the drawing.
std::function<void(QPainter&, int, int)> overviewDrawing(const OverviewSet& set,
                                                         const OverviewView& view);

// One thing placed on a page, in the device's units (rect inside the page).
struct PlacedItem {
    enum Kind { Text, Fill, Rule, Picture } kind = Text;
    QRectF rect;
    QString text;              // Text
    QFont font;                // Text
    int table = -1, row = -1;  // a table cell's: which table of the report, which row (-1 head)
    ReportPicture picture = ReportPicture::None;
    QSize units;  // Picture: the size the picture is drawn at (scaled to rect)
};

struct ReportLayout {
    double dpi = 0;
    QRectF page;     // the whole sheet, upright
    QRectF content;  // inside the margins; nothing is placed outside it
    std::vector<std::vector<PlacedItem>> pages;
    std::vector<bool> landscape;  // per page: turned (the panel's page); the first never is

    // A page's sheet and content, turned for a landscape page.
    QRectF pageRect(std::size_t index) const;
    QRectF contentRect(std::size_t index) const;
};

// Lays the report out for a paper on a device whose resolution gives the fonts' metrics (the
// PDF writer itself, or one on a buffer for a check).
ReportLayout layoutReport(const ServiceReport& report, const ReportImages& images, Paper paper,
                          QPaintDevice& device);

// Writes the PDF to path through a temporary file in the same folder, renamed over path only
// when the whole document was written: a failure leaves nothing under path (and an existing
// file untouched). Empty on success, else the reason.
std::string writeReportPdf(const ServiceReport& report, const ReportImages& images, Paper paper,
                           const std::string& path);

// The size to draw the panel at for a report on paper: as wide as a landscape page's content
// at the scale that prints the panel's smallest lettering (QtSurface::smallestTextSize()) at
// kReportMinPoints, and as tall as the page leaves below the caption.
QSize panelPictureSize(Paper paper);

// The panel as the window draws it for these values (a QGuiApplication must exist).
QImage panelPicture(const PanelInputs& in, QSize size);

// The panel as playback shows the record at index of a log file, the trend holding the records
// around it. False with error set when the file or the record cannot be read.
bool loggedPanelPicture(const std::string& path, std::int64_t index, QSize size, QImage& out,
                        std::string& error);

}  // namespace kvx
