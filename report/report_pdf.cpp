#include "report/report_pdf.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>
#include <QTextOption>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/qt_surface.h"
#include "display/recording_surface.h"
#include "display/trend_chart.h"
#include "log/log_player.h"
#include "log/log_result.h"
#include "overview/channel_table.h"
#include "overview/overview_export.h"
#include "overview/trend_chart_feed.h"

namespace kvx {
namespace {

// Fine enough that the fonts' metrics round to nothing a reader would see.
constexpr int kDpi = 288;
constexpr double kMarginMm = 18;
constexpr double kTitlePt = 18, kHeadingPt = 14, kCaptionPt = 11, kBodyPt = 10, kTablePt = 9.5,
                 kFooterPt = 9;
static_assert(kTablePt >= kReportMinPoints && kFooterPt >= kReportMinPoints &&
              kBodyPt >= kReportMinPoints);
// What the panel's landscape page holds besides the picture: the footer and a caption line,
// with room to spare (the layout checks; a smaller picture is never scaled up past the width).
constexpr double kPanelPageReservePt = 52;

QFont reportFont(double points, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    // No ligatures: the PDF's text then reads back letter for letter ("fl", not one glyph).
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QPageSize pageSize(Paper paper) {
    return QPageSize(paper == Paper::Letter ? QPageSize::Letter : QPageSize::A4);
}

PlacedItem placed(PlacedItem::Kind kind, const QRectF& rect) {
    PlacedItem item;
    item.kind = kind;
    item.rect = rect;
    return item;
}

class Layouter {
  public:
    Layouter(const ReportImages& images, Paper paper, QPaintDevice& device)
        : images_(images), device_(device) {
        const QSizeF mm = pageSize(paper).size(QPageSize::Millimeter);
        out_.dpi = kDpi;
        out_.page = QRectF(0, 0, dots(mm.width()), dots(mm.height()));
        const double m = dots(kMarginMm);
        // The footer's line stands in the bottom margin's upper part, inside the content.
        out_.content = out_.page.adjusted(m, m, -m, -m);
        footerHeight_ = lineHeight(reportFont(kFooterPt)) * 2.4;
        newPage();
    }

    ReportLayout finish(const std::string& footer) {
        const QFont font = reportFont(kFooterPt);
        const int n = static_cast<int>(out_.pages.size());
        for (int i = 0; i < n; ++i) {
            const double h = lineHeight(font);
            const QRectF content = out_.contentRect(static_cast<std::size_t>(i));
            const QRectF rect(content.left(), content.bottom() - h, content.width(), h);
            PlacedItem rule = placed(PlacedItem::Rule,
                                     QRectF(rect.left(), rect.top() - h * 0.3, rect.width(), 0));
            out_.pages[static_cast<std::size_t>(i)].push_back(rule);
            PlacedItem text = placed(PlacedItem::Text, rect);
            text.text = QString::fromStdString(footer) +
                        QStringLiteral("  -  page %1 of %2").arg(i + 1).arg(n);
            text.font = font;
            out_.pages[static_cast<std::size_t>(i)].push_back(text);
        }
        return std::move(out_);
    }

    void title(const std::string& text) {
        paragraph(text, reportFont(kTitlePt, true));
        y_ += gap();
    }

    void section(const ReportSection& s) {
        const QFont heading = reportFont(kHeadingPt, true);
        // A heading never ends a page: it stays with a few lines of what follows.
        // A section's picture stays with its heading and the lines above it.
        const double body = lineHeight(reportFont(kBodyPt));
        double keep = lineHeight(heading) * 1.4 + body * 3;
        // The panel's picture comes after the section's text and readings, on a page of its own.
        const bool panelPage = s.picture == ReportPicture::Panel && !images_.panel.isNull();
        if (s.picture != ReportPicture::None && !panelPage)
            keep = lineHeight(heading) * 1.4 + gap() +
                   body * 1.3 * (static_cast<double>(s.paragraphs.size()) + 1) +
                   pictureSize(s.picture).page.height();
        needs(keep);
        y_ += gap() * 0.5;
        paragraph(s.title, heading);
        rule();
        for (const std::string& p : s.paragraphs)
            paragraph(p, reportFont(kBodyPt));
        if (s.picture != ReportPicture::None && !panelPage) picture(s.picture);
        for (const ReportTable& t : s.tables)
            table(t);
        if (panelPage) panelOnItsPage(s.title);
        y_ += gap();
    }

  private:
    double dots(double mm) const { return mm / 25.4 * kDpi; }
    double gap() const { return dots(4); }
    double lineHeight(const QFont& font) const {
        return QFontMetricsF(font, &device_).lineSpacing();
    }

    std::vector<PlacedItem>& page() { return out_.pages.back(); }
    void newPage(bool landscape = false) {
        out_.pages.emplace_back();
        out_.landscape.push_back(landscape);
        content_ = out_.contentRect(out_.pages.size() - 1);
        bottom_ = content_.bottom() - footerHeight_;
        y_ = content_.top();
    }
    // Starts a new page unless height fits below the cursor (or the page is still empty).
    void needs(double height) {
        if (y_ + height > bottom_ && y_ > content_.top()) newPage();
    }

    // The panel across a landscape page, under a caption, at the scale that fills the width (or
    // the height left); what follows starts a new upright page.
    void panelOnItsPage(const std::string& caption) {
        if (page().empty()) {
            out_.pages.pop_back();
            out_.landscape.pop_back();
        }
        newPage(true);
        paragraph(caption, reportFont(kCaptionPt, true));
        const QSize px = images_.panel.size();
        const double scale = std::min(content_.width() / px.width(), (bottom_ - y_) / px.height());
        PlacedItem item =
            placed(PlacedItem::Picture,
                   QRectF(content_.left(), y_, px.width() * scale, px.height() * scale));
        item.picture = ReportPicture::Panel;
        item.units = px;
        page().push_back(item);
        y_ = bottom_ + 1;
    }

    // The text broken into lines no wider than width (a word longer than a line is broken
    // inside), as (text, height) pairs.
    std::vector<QString> wrap(const QString& text, const QFont& font, double width) const {
        std::vector<QString> lines;
        if (text.isEmpty()) {
            lines.emplace_back();
            return lines;
        }
        QTextLayout layout(text, font, &device_);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            // A line keeps its indent; the spaces a break falls on are dropped.
            QString part = text.mid(line.textStart(), line.textLength());
            while (!part.isEmpty() && part.back().isSpace())
                part.chop(1);
            if (!lines.empty()) part = part.trimmed();
            lines.push_back(part);
        }
        layout.endLayout();
        return lines;
    }

    void paragraph(const std::string& text, const QFont& font) {
        const double h = lineHeight(font);
        for (const QString& line : wrap(QString::fromStdString(text), font, content_.width())) {
            needs(h);
            PlacedItem item =
                placed(PlacedItem::Text, QRectF(content_.left(), y_, content_.width(), h));
            item.text = line;
            item.font = font;
            page().push_back(item);
            y_ += h;
        }
        y_ += h * 0.3;
    }

    void rule() {
        page().push_back(
            placed(PlacedItem::Rule, QRectF(content_.left(), y_, content_.width(), 0)));
        y_ += gap() * 0.5;
    }

    struct PictureSize {
        QSizeF page;  // on the page
        QSize units;  // what it is drawn at
    };

    // The picture's size on the page: the content's width, at most 60 % of a page's height.
    // The panel is an image scaled to that; the overview is laid out for it, at the scale that
    // sets its smallest lettering at kReportMinPoints, as tall as the page lets it (the plot
    // keeps the strips that fit).
    PictureSize pictureSize(ReportPicture which) const {
        const double most = (bottom_ - content_.top()) * 0.6;
        if (which == ReportPicture::Overview) {
            if (!images_.overview) return {};
            const double perUnit = kReportMinPoints / overviewSmallestTextSize() * kDpi / 72.0;
            const int w = static_cast<int>(content_.width() / perUnit);
            const int h = static_cast<int>(std::min(w * 0.85, most / perUnit));
            return {QSizeF(w * perUnit, h * perUnit), QSize(w, h)};
        }
        const QSize size = images_.panel.size();
        if (size.width() <= 0 || size.height() <= 0) return {};
        double w = content_.width();
        double h = w * size.height() / size.width();
        if (h > most) {
            w *= most / h;
            h = most;
        }
        return {QSizeF(w, h), size};
    }

    void picture(ReportPicture which) {
        const PictureSize size = pictureSize(which);
        if (size.page.isEmpty()) return;
        const double w = size.page.width(), h = size.page.height();
        needs(h);
        PlacedItem item = placed(PlacedItem::Picture, QRectF(content_.left(), y_, w, h));
        item.picture = which;
        item.units = size.units;
        page().push_back(item);
        y_ += h + gap();
    }

    struct Cells {
        std::vector<std::vector<QString>> lines;  // per column
        double height = 0;
    };

    Cells measure(const std::vector<std::string>& cells, const std::vector<double>& widths,
                  const QFont& font) const {
        Cells c;
        const double h = lineHeight(font);
        const double pad = dots(1.2);
        std::size_t most = 1;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            const QString text = i < cells.size() ? QString::fromStdString(cells[i]) : QString();
            c.lines.push_back(wrap(text, font, widths[i] - 2 * pad));
            most = std::max(most, c.lines.back().size());
        }
        c.height = static_cast<double>(most) * h + 2 * pad;
        return c;
    }

    void placeRow(const Cells& c, const std::vector<double>& widths, const QFont& font, int row,
                  bool head) {
        const double h = lineHeight(font);
        const double pad = dots(1.2);
        if (head)
            page().push_back(
                placed(PlacedItem::Fill, QRectF(content_.left(), y_, content_.width(), c.height)));
        double x = content_.left();
        for (std::size_t i = 0; i < widths.size(); ++i) {
            double ly = y_ + pad;
            for (const QString& line : c.lines[i]) {
                PlacedItem item =
                    placed(PlacedItem::Text, QRectF(x + pad, ly, widths[i] - 2 * pad, h));
                item.text = line;
                item.font = font;
                item.table = tableIndex_;
                item.row = row;
                page().push_back(item);
                ly += h;
            }
            x += widths[i];
        }
        y_ += c.height;
        PlacedItem under =
            placed(PlacedItem::Rule, QRectF(content_.left(), y_, content_.width(), 0));
        under.table = tableIndex_;
        under.row = row;
        page().push_back(under);
    }

    void table(const ReportTable& t) {
        ++tableIndex_;
        const std::size_t columns = t.headings.size();
        if (columns == 0) return;
        double total = 0;
        for (std::size_t i = 0; i < columns; ++i)
            total += i < t.weights.size() && t.weights[i] > 0 ? t.weights[i] : 1;
        std::vector<double> widths;
        for (std::size_t i = 0; i < columns; ++i)
            widths.push_back(content_.width() *
                             (i < t.weights.size() && t.weights[i] > 0 ? t.weights[i] : 1) / total);
        const QFont body = reportFont(kTablePt), bold = reportFont(kTablePt, true);
        const QFont captionFont = reportFont(kCaptionPt, true);
        const Cells head = measure(t.headings, widths, bold);
        const Cells first = t.rows.empty() ? Cells{} : measure(t.rows.front(), widths, body);
        // The caption and the headings stay with the first row.
        needs((t.caption.empty() ? 0 : lineHeight(captionFont) * 1.3) + head.height + first.height);
        if (!t.caption.empty()) paragraph(t.caption, captionFont);
        placeRow(head, widths, bold, -1, true);
        for (std::size_t r = 0; r < t.rows.size(); ++r) {
            const Cells c = r == 0 ? first : measure(t.rows[r], widths, body);
            if (y_ + c.height > bottom_) {
                newPage();
                placeRow(head, widths, bold, -1, true);
            }
            placeRow(c, widths, body, static_cast<int>(r), false);
        }
        y_ += gap();
    }

    const ReportImages& images_;
    QPaintDevice& device_;
    ReportLayout out_;
    double y_ = 0;
    QRectF content_;  // the current page's
    double bottom_ = 0;
    double footerHeight_ = 0;
    int tableIndex_ = -1;
};

void paintPage(QPainter& p, const std::vector<PlacedItem>& items, const ReportImages& images,
               double dpi) {
    const QPen line(QColor(120, 120, 120), dpi / 72.0 * 0.5);
    for (const PlacedItem& item : items) {
        switch (item.kind) {
            case PlacedItem::Fill:
                p.fillRect(item.rect, QColor(225, 232, 240));
                break;
            case PlacedItem::Rule:
                p.setPen(line);
                p.drawLine(item.rect.topLeft(), item.rect.topRight());
                break;
            case PlacedItem::Picture:
                if (item.picture == ReportPicture::Panel) {
                    p.drawImage(item.rect, images.panel);
                } else if (images.overview && !item.units.isEmpty()) {
                    const QSize size = item.units;
                    p.save();
                    p.setClipRect(item.rect);
                    p.translate(item.rect.topLeft());
                    p.scale(item.rect.width() / size.width(), item.rect.height() / size.height());
                    images.overview(p, size.width(), size.height());
                    p.restore();
                }
                break;
            case PlacedItem::Text:
                p.setPen(Qt::black);
                p.setFont(item.font);
                p.drawText(item.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, item.text);
                break;
        }
    }
}

}  // namespace

ReportLayout layoutReport(const ServiceReport& report, const ReportImages& images, Paper paper,
                          QPaintDevice& device) {
    Layouter l(images, paper, device);
    l.title(report.title);
    for (const ReportSection& s : report.sections)
        l.section(s);
    return l.finish(report.footer);
}

std::string writeReportPdf(const ServiceReport& report, const ReportImages& images, Paper paper,
                           const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return "cannot write in " + folder + ": " + std::strerror(errno);
    // mkstemp's file is the owner's alone; a report is an ordinary document.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    std::string error;
    {
        QPdfWriter writer(QString::fromStdString(temp));
        writer.setResolution(kDpi);
        writer.setPageSize(pageSize(paper));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setTitle(QString::fromStdString(report.title + " - " + report.footer));
        writer.setCreator(QStringLiteral("kvx-report"));
        QPainter painter;
        if (!painter.begin(&writer)) {
            error = "cannot write " + path;
        } else {
            const ReportLayout layout = layoutReport(report, images, paper, writer);
            for (std::size_t i = 0; i < layout.pages.size(); ++i) {
                if (i > 0) {
                    // Takes effect from the page newPage() starts.
                    writer.setPageOrientation(layout.landscape[i] ? QPageLayout::Landscape
                                                                  : QPageLayout::Portrait);
                    writer.newPage();
                }
                paintPage(painter, layout.pages[i], images, layout.dpi);
            }
            if (!painter.end()) error = "cannot write " + path;
        }
    }
    if (error.empty()) {
        // QPdfWriter reports no failed write: a whole document ends with its trailer.
        QFile file(QString::fromStdString(temp));
        const qint64 size = file.size();
        QByteArray tail;
        if (size > 0 && file.open(QIODevice::ReadOnly) && file.seek(std::max<qint64>(0, size - 32)))
            tail = file.readAll();
        if (!tail.contains("%%EOF"))
            error = "cannot write " + path + ": the document was cut short";
    }
    if (error.empty() && std::rename(temp.c_str(), path.c_str()) != 0)
        error = "cannot write " + path + ": " + std::strerror(errno);
    if (!error.empty()) std::remove(temp.c_str());
    return error;
}

QRectF ReportLayout::pageRect(std::size_t index) const {
    const bool turned = index < landscape.size() && landscape[index];
    return turned ? QRectF(0, 0, page.height(), page.width()) : page;
}

QRectF ReportLayout::contentRect(std::size_t index) const {
    const double m = content.left() - page.left();
    return pageRect(index).adjusted(m, m, -m, -m);
}

QSize panelPictureSize(Paper paper) {
    const QSizeF mm = pageSize(paper).size(QPageSize::Millimeter);
    const auto points = [](double mm) { return mm / 25.4 * 72; };
    const double width = points(std::max(mm.width(), mm.height()) - 2 * kMarginMm);
    const double height =
        points(std::min(mm.width(), mm.height()) - 2 * kMarginMm) - kPanelPageReservePt;
    const double perPoint = QtSurface::smallestTextSize() / kReportMinPoints;
    return {static_cast<int>(width * perPoint), static_cast<int>(height * perPoint)};
}

QImage panelPicture(const PanelInputs& in, QSize size) {
    const int width = size.width(), height = size.height();
    Panel panel;
    panel.onCreate(in.ranges);
    panel.onSize(width, height);
    // A dial draws its face before it takes a new range, so the window shows the controller's
    // scales from its second paint on: a first paint, kept nowhere, lets the faces take them.
    RecordingSurface first;
    panel.onPaint(first, width, height, in);
    QtSurface surface(width, height);
    panel.onPaint(surface, width, height, in);
    return surface.image().copy();
}

bool loggedPanelPicture(const std::string& path, std::int64_t index, QSize size, QImage& out,
                        std::string& error) {
    const int width = size.width(), height = size.height();
    // What the window has before any connection: default ranges and an empty image.
    LiveData live;
    InputImage image;
    LiveStatus status;
    DisplayRanges ranges;
    Panel panel;
    panel.onCreate(ranges);
    panel.onSize(width, height);
    const PanelInputs in{live, image, status, ranges, 1, false, true};
    // A first paint lays the chart out, which fixes its capacity and so the chunk.
    RecordingSurface layout;
    panel.onPaint(layout, width, height, in);
    TrendChartFeed feed(panel.chart());
    LogPlayer player(live, feed);
    int r = player.openFile(path);
    if (r == LOG_OK) r = player.changePosition(static_cast<std::int32_t>(index));
    if (r != LOG_OK) {
        error = playbackResultText(r, path);
        return false;
    }
    QtSurface surface(width, height);
    panel.onPaint(surface, width, height, in);
    out = surface.image().copy();
    return true;
}

OverviewView visitOverviewView(const ReportLogs& logs) {
    OverviewView view;
    view.from = static_cast<double>(logs.from);
    view.to = static_cast<double>(logs.to) + 1;
    view.fields = defaultOverviewFields();
    return view;
}

std::function<void(QPainter&, int, int)> overviewDrawing(const OverviewSet& set,
                                                         const OverviewView& view) {
    return [&set, view](QPainter& painter, int width, int height) {
        paintOverview(painter, width, height, set, view);
    };
}

}  // namespace kvx
