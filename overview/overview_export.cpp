#include "overview/overview_export.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QSvgGenerator>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "display/qt_surface.h"

namespace kvx {

namespace {

QColor toQColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

// The faces of QtSurface, so a picture reads the same as PNG, SVG or on a PDF page.
QFont makeFont(FontChoice choice) {
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setStyleHint(QFont::SansSerif);
    // No ligatures: a PDF's or SVG's text then reads back letter for letter ("diesel_flow",
    // not "diesel_\uFB02ow") when searched or copied.
    f.setStyleStrategy(QFont::PreferNoShaping);
    if (choice == FontChoice::Small) {
        f.setPixelSize(11);
        f.setWeight(QFont::Normal);
    } else {
        f.setPixelSize(13);
        f.setWeight(QFont::Bold);
    }
    return f;
}

void normalise(int& left, int& top, int& right, int& bottom) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
}

// The Surface over any QPainter (an SVG generator, a PDF page): every call becomes the
// matching QPainter call, so vector outputs stay vectors.
class PainterSurface : public Surface {
  public:
    explicit PainterSurface(QPainter& painter) : p_(painter) { p_.setFont(fonts_[0]); }
    ~PainterSurface() override { flush(); }
    PainterSurface(const PainterSurface&) = delete;
    PainterSurface& operator=(const PainterSurface&) = delete;

    void setPen(const Pen& pen) override { pen_ = pen; }
    void setBrush(const Brush& brush) override { brush_ = brush; }
    void setTextColour(Rgb colour) override { textColour_ = colour; }
    void setTextAlign(TextAlign align) override { align_ = align; }
    void setTransparentBackground(bool transparent) override { transparent_ = transparent; }
    void setBackgroundColour(Rgb colour) override { background_ = colour; }
    void selectFont(FontChoice font) override {
        font_ = font == FontChoice::Small ? 1 : 0;
        p_.setFont(fonts_[font_]);
    }
    TextMetrics textMetrics() const override {
        return TextMetrics{metrics_[font_].height(), metrics_[font_].averageCharWidth()};
    }

    // A trace is thousands of one-column bars: fills of one colour in a row are kept as one
    // path, so an SVG holds one element per trace rather than one per column.
    void fillRect(int left, int top, int right, int bottom, Rgb colour) override {
        normalise(left, top, right, bottom);
        if (right <= left || bottom <= top) return;
        if (pending_ && colour != pendingColour_) flush();
        path_.addRect(QRectF(left, top, right - left, bottom - top));
        pendingColour_ = colour;
        pending_ = true;
    }
    void rectangle(int left, int top, int right, int bottom) override {
        flush();
        normalise(left, top, right, bottom);
        if (right <= left || bottom <= top) return;
        if (!brush_.none) fillRect(left, top, right, bottom, brush_.colour);
        if (!hasPen()) return;
        // The outline on the box's outermost pixels, as QtSurface draws it.
        const double half = pen_.width / 2.0;
        p_.setPen(qpen());
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(
            QRectF(left + half, top + half, right - left - pen_.width, bottom - top - pen_.width));
    }
    void ellipse(int left, int top, int right, int bottom) override {
        flush();
        normalise(left, top, right, bottom);
        p_.setPen(hasPen() ? qpen() : QPen(Qt::NoPen));
        p_.setBrush(brush_.none ? QBrush(Qt::NoBrush) : QBrush(toQColor(brush_.colour)));
        p_.drawEllipse(QRectF(left, top, right - left, bottom - top));
    }
    void arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd,
             int yEnd) override {
        flush();
        normalise(left, top, right, bottom);
        if (!hasPen() || right <= left || bottom <= top) return;
        const double cx = (left + right) / 2.0, cy = (top + bottom) / 2.0;
        const auto angle = [&](int x, int y) {
            const double a = std::atan2(cy - y, x - cx) * 180.0 / M_PI;
            return a < 0 ? a + 360.0 : a;
        };
        const double a0 = angle(xStart, yStart);
        double span = angle(xEnd, yEnd) - a0;
        if (span <= 0) span += 360.0;
        p_.setPen(qpen());
        p_.setBrush(Qt::NoBrush);
        p_.drawArc(QRectF(left, top, right - left, bottom - top), static_cast<int>(a0 * 16),
                   static_cast<int>(span * 16));
    }
    void moveTo(int x, int y) override {
        x_ = x;
        y_ = y;
    }
    void lineTo(int x, int y) override {
        if (hasPen() && (x != x_ || y != y_)) {
            flush();
            p_.setPen(qpen());
            // Through the pixel centres, as the raster surface lights them.
            p_.drawLine(QPointF(x_ + 0.5, y_ + 0.5), QPointF(x + 0.5, y + 0.5));
        }
        x_ = x;
        y_ = y;
    }
    void text(int x, int y, std::string_view text) override {
        flush();
        const QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
        const QFontMetrics& fm = metrics_[font_];
        const int w = fm.horizontalAdvance(s);
        int left = x;
        if (align_.h == HAlign::Centre) left = x - w / 2;
        if (align_.h == HAlign::Right) left = x - w;
        const int top = align_.v == VAlign::Top ? y : y - fm.height();
        if (!transparent_) p_.fillRect(QRect(left, top, w, fm.height()), toQColor(background_));
        p_.setPen(toQColor(textColour_));
        p_.drawText(QPoint(left, top + fm.ascent()), s);
    }

  private:
    void flush() {
        if (!pending_) return;
        p_.setPen(Qt::NoPen);
        p_.setBrush(toQColor(pendingColour_));
        p_.drawPath(path_);
        path_.clear();
        pending_ = false;
    }
    bool hasPen() const { return pen_.style != PenStyle::None && pen_.width > 0; }
    QPen qpen() const {
        QPen p(toQColor(pen_.colour));
        p.setWidth(pen_.width);
        p.setCapStyle(Qt::FlatCap);
        switch (pen_.style) {
            case PenStyle::Dash:
                p.setStyle(Qt::DashLine);
                break;
            case PenStyle::Dot:
                p.setStyle(Qt::DotLine);
                break;
            default:
                p.setStyle(Qt::SolidLine);
                break;
        }
        return p;
    }

    QPainter& p_;
    QFont fonts_[2] = {makeFont(FontChoice::Default), makeFont(FontChoice::Small)};
    QFontMetrics metrics_[2] = {QFontMetrics(fonts_[0]), QFontMetrics(fonts_[1])};
    int font_ = 0;
    Pen pen_ = kBlackPen;
    Brush brush_ = kWhiteBrush;
    Rgb textColour_{};
    TextAlign align_{};
    bool transparent_ = false;
    Rgb background_{255, 255, 255};
    int x_ = 0, y_ = 0;
    QPainterPath path_;
    Rgb pendingColour_{};
    bool pending_ = false;
};

bool endsWith(const std::string& text, const char* ending) {
    const std::size_t n = std::strlen(ending);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != ending[i])
            return false;
    return true;
}

// Opened once before drawing, so the error names the reason (no such folder, no permission)
// rather than only that Qt could not save.
bool canWrite(const std::string& path, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(f);
    return true;
}

}  // namespace

bool pictureFormatOf(const std::string& path, PictureFormat& out) {
    if (endsWith(path, ".png")) {
        out = PictureFormat::Png;
        return true;
    }
    if (endsWith(path, ".svg")) {
        out = PictureFormat::Svg;
        return true;
    }
    return false;
}

bool writeOverviewPicture(const std::string& path, int width, int height, const OverviewSet& set,
                          const OverviewView& view, std::string* error, OverviewGeometry* drawn) {
    PictureFormat format;
    if (!pictureFormatOf(path, format)) {
        if (error) *error = path + ": the name must end in .png or .svg";
        return false;
    }
    return writeOverviewPicture(path, format, width, height, set, view, error, drawn);
}

bool writeOverviewPicture(const std::string& path, PictureFormat format, int width, int height,
                          const OverviewSet& set, const OverviewView& view, std::string* error,
                          OverviewGeometry* drawn) {
    if (width < 1 || height < 1) {
        if (error) *error = "the picture needs a width and a height of at least 1 pixel";
        return false;
    }
    if (!canWrite(path, error)) return false;
    if (format == PictureFormat::Png) {
        QtSurface surface(width, height);
        const OverviewGeometry g = renderOverview(surface, width, height, set, view);
        if (drawn) *drawn = g;
        if (!surface.savePng(path)) {
            if (error) *error = "cannot write " + path;
            return false;
        }
        return true;
    }
    QSvgGenerator svg;
    svg.setFileName(QString::fromStdString(path));
    svg.setSize(QSize(width, height));
    svg.setViewBox(QRect(0, 0, width, height));
    // At 96 dots an inch a pixel is a CSS pixel: a browser shows the picture at its size.
    svg.setResolution(96);
    svg.setTitle(view.title.empty() ? QStringLiteral("Orvik KVX log overview")
                                    : QString::fromStdString(view.title));
    svg.setDescription(QStringLiteral("Orvik KVX log overview"));
    QPainter painter;
    if (!painter.begin(&svg)) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    const OverviewGeometry g = paintOverview(painter, width, height, set, view);
    if (drawn) *drawn = g;
    if (!painter.end()) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

int overviewSmallestTextSize() {
    return makeFont(FontChoice::Small).pixelSize();
}

OverviewGeometry paintOverview(QPainter& painter, int width, int height, const OverviewSet& set,
                               const OverviewView& view) {
    PainterSurface surface(painter);
    return renderOverview(surface, width, height, set, view);
}

}  // namespace kvx
