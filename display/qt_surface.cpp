#include "display/qt_surface.h"

#include <QFont>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

namespace kvx {

namespace {

QColor toQColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

// The default face stands for the system font of a memory device context: bold, a 15 px cell.
// Its condensed cut keeps digits near the average width, as the layout's text offsets (a value
// of six characters in seven average widths) assume. The small face stands for the raster font
// of narrow windows, whose cell is about 13 px: the layout's line and legend-box offsets were
// made for that height. The condensed cut at 11 px gives that cell at the text widths of the
// plain cut at 10 px, so values still fit their gaps.
QFont makeFont(FontChoice choice) {
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setStyleHint(QFont::SansSerif);
    f.setHintingPreference(QFont::PreferFullHinting);
    if (choice == FontChoice::Small) {
        f.setPixelSize(11);
        f.setWeight(QFont::Normal);
    } else {
        f.setPixelSize(13);
        f.setWeight(QFont::Bold);
    }
    return f;
}

Qt::PenStyle toQtStyle(PenStyle s) {
    switch (s) {
        case PenStyle::Dash:
            return Qt::DashLine;
        case PenStyle::Dot:
            return Qt::DotLine;
        case PenStyle::None:
            return Qt::NoPen;
        case PenStyle::Solid:
            break;
    }
    return Qt::SolidLine;
}

// Measured and shaped texts by text: the labels, read-outs and status lines come back paint
// after paint, and measuring and shaping them is most of what drawing them costs. Values and
// times make new texts every poll, so a cache keeps two generations: when the recent one is full
// it becomes the older one and the one before is dropped; a text found in the older generation
// moves back to the recent one. Texts drawn every paint stay, and the memory stays flat over a
// day of polling.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

template <typename Value>
class TextCache {
  public:
    // The value kept for text, made by make() when neither generation has it. The reference
    // lasts until the next call.
    template <typename Make>
    const Value& get(std::string_view text, Make make) {
        if (const auto it = recent_.find(text); it != recent_.end()) return it->second;
        Value value;
        if (const auto it = older_.find(text); it != older_.end()) {
            value = std::move(it->second);
        } else {
            value = make();
        }
        if (recent_.size() >= kGeneration) {
            older_.swap(recent_);
            recent_.clear();
        }
        return recent_.emplace(std::string(text), std::move(value)).first->second;
    }

  private:
    static constexpr std::size_t kGeneration = 256;
    using Map = std::unordered_map<std::string, Value, TextHash, std::equal_to<>>;
    Map recent_;
    Map older_;
};

void normalise(int& left, int& top, int& right, int& bottom) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
}

}  // namespace

struct QtSurface::Impl {
    QImage image;
    QPainter painter;
    Pen pen = kBlackPen;
    Brush brush = kWhiteBrush;
    Rgb textColour{};
    TextAlign align{};
    bool transparent = false;
    Rgb background{255, 255, 255};
    FontChoice fontChoice = FontChoice::Default;
    QFont fonts[2] = {makeFont(FontChoice::Default), makeFont(FontChoice::Small)};
    QFontMetrics metrics[2] = {QFontMetrics(fonts[0]), QFontMetrics(fonts[1])};
    // Shaped is empty when the text did not come out as one run of glyphs of one font; it is
    // then drawn as text.
    mutable TextCache<int> widths[2];
    TextCache<QGlyphRun> glyphs[2];
    int curX = 0, curY = 0;
    QPainter::RenderHints freshHints;
    // Solid fills write the pixels themselves: QPainter's per-call cost dominates the many
    // short lines of the traces. The raster engine draws at once, so both ways mix freely.
    quint32* bits = nullptr;
    qsizetype stride = 0;
    int w = 0, h = 0;

    Impl(int w, int h) : image(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32) {
        image.fill(Qt::white);
        bits = reinterpret_cast<quint32*>(image.bits());
        stride = image.bytesPerLine() / 4;
        this->w = image.width();
        this->h = image.height();
        painter.begin(&image);
        painter.setFont(fonts[0]);
        freshHints = painter.renderHints();
    }

    static int index(FontChoice f) { return f == FontChoice::Small ? 1 : 0; }
    const QFontMetrics& fm() const { return metrics[index(fontChoice)]; }

    int width(FontChoice f, std::string_view text) const {
        return widths[index(f)].get(text, [&] {
            return metrics[index(f)].horizontalAdvance(
                QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        });
    }

    // The glyphs of text laid out with its baseline at y = ascent, as drawText lays it out.
    const QGlyphRun& shaped(FontChoice f, std::string_view text) {
        return glyphs[index(f)].get(text, [&] {
            QTextLayout layout(
                QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                fonts[index(f)]);
            layout.beginLayout();
            QTextLine line = layout.createLine();
            layout.endLayout();
            QGlyphRun run;
            if (line.isValid() && line.ascent() == metrics[index(f)].ascent()) {
                const QList<QGlyphRun> runs = layout.glyphRuns();
                if (runs.size() == 1) run = runs.front();
            }
            return run;
        });
    }

    // An opaque fill of (left, top)..(right, bottom) exclusive, as QPainter::fillRect does it.
    void fillSolid(int left, int top, int right, int bottom, Rgb c) {
        left = std::max(left, 0);
        top = std::max(top, 0);
        right = std::min(right, w);
        bottom = std::min(bottom, h);
        if (right <= left || bottom <= top) return;
        const quint32 v = 0xff000000u | (quint32{c.r} << 16) | (quint32{c.g} << 8) | c.b;
        for (int y = top; y < bottom; ++y)
            std::fill_n(bits + y * stride + left, right - left, v);
    }
    bool hasPen() const { return pen.style != PenStyle::None && pen.width > 0; }

    // A pen whose stroke lies on pixel centres; thick pens end round, as wide GDI pens do.
    QPen qpen() const {
        if (!hasPen()) return QPen(Qt::NoPen);
        QPen p(toQColor(pen.colour));
        p.setWidth(pen.width);
        p.setStyle(toQtStyle(pen.style));
        if (pen.width > 1) {
            p.setCapStyle(Qt::RoundCap);
            p.setJoinStyle(Qt::RoundJoin);
        } else {
            p.setCapStyle(Qt::FlatCap);
        }
        return p;
    }
};

QtSurface::QtSurface(int width, int height) : d_(std::make_unique<Impl>(width, height)) {}

QtSurface::~QtSurface() {
    if (d_->painter.isActive()) d_->painter.end();
}

void QtSurface::setPen(const Pen& pen) {
    d_->pen = pen;
}
void QtSurface::setBrush(const Brush& brush) {
    d_->brush = brush;
}
void QtSurface::setTextColour(Rgb colour) {
    d_->textColour = colour;
}
void QtSurface::setTextAlign(TextAlign align) {
    d_->align = align;
}
void QtSurface::setTransparentBackground(bool transparent) {
    d_->transparent = transparent;
}
void QtSurface::setBackgroundColour(Rgb colour) {
    d_->background = colour;
}

void QtSurface::selectFont(FontChoice font) {
    d_->fontChoice = font;
    d_->painter.setFont(d_->fonts[font == FontChoice::Small ? 1 : 0]);
}

TextMetrics QtSurface::textMetrics() const {
    const QFontMetrics& fm = d_->fm();
    return TextMetrics{fm.height(), fm.averageCharWidth()};
}

void QtSurface::reset() {
    Impl& d = *d_;
    d.pen = kBlackPen;
    d.brush = kWhiteBrush;
    d.textColour = Rgb{};
    d.align = TextAlign{};
    d.transparent = false;
    d.background = Rgb{255, 255, 255};
    d.fontChoice = FontChoice::Default;
    d.curX = d.curY = 0;
    d.painter.setFont(d.fonts[0]);
    d.painter.setRenderHints(~d.freshHints, false);
    d.painter.setRenderHints(d.freshHints, true);
}

int QtSurface::smallestTextSize() {
    return makeFont(FontChoice::Small).pixelSize();
}

int QtSurface::width() const {
    return d_->image.width();
}
int QtSurface::height() const {
    return d_->image.height();
}

void QtSurface::fillRect(int left, int top, int right, int bottom, Rgb colour) {
    normalise(left, top, right, bottom);
    d_->fillSolid(left, top, right, bottom, colour);
}

void QtSurface::rectangle(int left, int top, int right, int bottom) {
    normalise(left, top, right, bottom);
    if (right <= left || bottom <= top) return;
    Impl& d = *d_;
    if (!d.brush.none) d.fillSolid(left, top, right, bottom, d.brush.colour);
    if (!d.hasPen()) return;
    // The outline runs inside the box, on its outermost pixels.
    const int w = std::min({d.pen.width, (right - left + 1) / 2, (bottom - top + 1) / 2});
    const Rgb c = d.pen.colour;
    d.fillSolid(left, top, right, top + w, c);
    d.fillSolid(left, bottom - w, right, bottom, c);
    d.fillSolid(left, top, left + w, bottom, c);
    d.fillSolid(right - w, top, right, bottom, c);
}

void QtSurface::ellipse(int left, int top, int right, int bottom) {
    normalise(left, top, right, bottom);
    if (right <= left || bottom <= top) return;
    QPainter& p = d_->painter;
    p.setRenderHint(QPainter::Antialiasing, true);
    const double inset = d_->hasPen() ? d_->pen.width / 2.0 : 0.0;
    const QRectF box(left + inset, top + inset, right - left - 2 * inset, bottom - top - 2 * inset);
    p.setPen(d_->qpen());
    p.setBrush(d_->brush.none ? QBrush(Qt::NoBrush) : QBrush(toQColor(d_->brush.colour)));
    p.drawEllipse(box);
}

void QtSurface::arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd,
                    int yEnd) {
    normalise(left, top, right, bottom);
    if (right <= left || bottom <= top || !d_->hasPen()) return;
    const double cx = (left + right) / 2.0;
    const double cy = (top + bottom) / 2.0;
    const double rx = (right - left) / 2.0;
    const double ry = (bottom - top) / 2.0;
    // Directions as angles counter-clockwise from 3 o'clock, taken on the ellipse so the arc
    // ends where the rays through the given points cross it.
    const auto angle = [&](int x, int y) {
        const double a = std::atan2(-(y - cy) / ry, (x - cx) / rx) * 180.0 / M_PI;
        return a < 0 ? a + 360.0 : a;
    };
    const double a0 = angle(xStart, yStart);
    double span = angle(xEnd, yEnd) - a0;
    if (span <= 0) span += 360.0;
    QPainter& p = d_->painter;
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(d_->qpen());
    p.setBrush(Qt::NoBrush);
    // Stroke on the pixel centres of the box, as the outline of ellipse() does.
    const QRectF box(left + 0.5, top + 0.5, right - left - 1.0, bottom - top - 1.0);
    QPainterPath path;
    path.arcMoveTo(box, a0);
    path.arcTo(box, a0, span);
    p.drawPath(path);
}

void QtSurface::moveTo(int x, int y) {
    d_->curX = x;
    d_->curY = y;
}

void QtSurface::lineTo(int x, int y) {
    const int x0 = d_->curX, y0 = d_->curY;
    d_->curX = x;
    d_->curY = y;
    if (!d_->hasPen() || (x0 == x && y0 == y)) return;
    if (d_->pen.width <= 1 && d_->pen.style == PenStyle::Solid && (x0 == x || y0 == y)) {
        // Straight 1 px lines stay crisp; the end point is left out.
        const Rgb c = d_->pen.colour;
        if (y0 == y) {
            const int from = x > x0 ? x0 : x + 1;
            d_->fillSolid(from, y, from + std::abs(x - x0), y + 1, c);
        } else {
            const int from = y > y0 ? y0 : y + 1;
            d_->fillSolid(x, from, x + 1, from + std::abs(y - y0), c);
        }
        return;
    }
    QPainter& p = d_->painter;
    p.setPen(d_->qpen());
    if (d_->pen.width <= 1) {
        if (x0 == x || y0 == y) {
            p.setRenderHint(QPainter::Antialiasing, false);
        } else {
            p.setRenderHint(QPainter::Antialiasing, true);
        }
        // Flat caps on a cosmetic pen leave the end pixel unpainted.
        p.drawLine(QPointF(x0 + 0.5, y0 + 0.5), QPointF(x + 0.5, y + 0.5));
        return;
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    p.drawLine(QPointF(x0 + 0.5, y0 + 0.5), QPointF(x + 0.5, y + 0.5));
}

void QtSurface::polyline(const Vertex* vertices, std::size_t count) {
    if (count == 0) return;
    moveTo(vertices[0].x, vertices[0].y);
    // The traces' steps: straight thin lines filled pixel for pixel without a call per line.
    Impl& d = *d_;
    const bool thin = d.pen.width == 1 && d.pen.style == PenStyle::Solid;
    for (std::size_t i = 1; i < count; ++i) {
        const int x0 = d.curX, y0 = d.curY;
        const int x = vertices[i].x, y = vertices[i].y;
        if (!thin || (x0 != x && y0 != y)) {
            lineTo(x, y);
            continue;
        }
        d.curX = x;
        d.curY = y;
        if (y0 == y) {
            const int from = x > x0 ? x0 : x + 1;
            d.fillSolid(from, y, from + std::abs(x - x0), y + 1, d.pen.colour);
        } else {
            const int from = y > y0 ? y0 : y + 1;
            d.fillSolid(x, from, x + 1, from + std::abs(y - y0), d.pen.colour);
        }
    }
}

void QtSurface::text(int x, int y, std::string_view text) {
    if (text.empty()) return;
    QPainter& p = d_->painter;
    const QFontMetrics& fm = d_->fm();
    const int w = d_->width(d_->fontChoice, text);
    int left = x;
    if (d_->align.h == HAlign::Centre) left = x - w / 2;
    if (d_->align.h == HAlign::Right) left = x - w;
    const int top = d_->align.v == VAlign::Top ? y : y - fm.height();
    if (!d_->transparent) d_->fillSolid(left, top, left + w, top + fm.height(), d_->background);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setPen(toQColor(d_->textColour));
    if (const QGlyphRun& run = d_->shaped(d_->fontChoice, text); !run.isEmpty())
        p.drawGlyphRun(QPointF(left, top), run);
    else
        p.drawText(QPoint(left, top + fm.ascent()),
                   QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

TextMetrics QtSurface::metricsOf(FontChoice font) const {
    const QFontMetrics& fm = d_->metrics[Impl::index(font)];
    return TextMetrics{fm.height(), fm.averageCharWidth()};
}

int QtSurface::textWidth(FontChoice font, std::string_view text) const {
    return d_->width(font, text);
}

void QtSurface::copyRegion(const QtSurface& from, int left, int top, int right, int bottom) {
    normalise(left, top, right, bottom);
    const Impl& src = *from.d_;
    Impl& dst = *d_;
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min({right, src.w, dst.w});
    bottom = std::min({bottom, src.h, dst.h});
    if (right <= left || bottom <= top) return;
    const int n = right - left;
    const quint32* in = src.bits + top * src.stride + left;
    quint32* out = dst.bits + top * dst.stride + left;
    if (n <= 4) {
        // The steps of a trace: a call to memcpy per row would cost more than the copy.
        for (int y = top; y < bottom; ++y, in += src.stride, out += dst.stride)
            for (int x = 0; x < n; ++x)
                out[x] = in[x];
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(quint32);
    for (int y = top; y < bottom; ++y, in += src.stride, out += dst.stride)
        std::memcpy(out, in, bytes);
}

void QtSurface::copyAlong(const QtSurface& from, const Vertex* vertices, std::size_t count) {
    const Impl& src = *from.d_;
    Impl& dst = *d_;
    const int w = std::min(src.w, dst.w), h = std::min(src.h, dst.h);
    for (std::size_t i = 1; i < count; ++i) {
        const Vertex a = vertices[i - 1], b = vertices[i];
        if (a.y == b.y) {
            if (a.y < 0 || a.y >= h) continue;
            const int x0 = std::max(std::min(a.x, b.x), 0),
                      x1 = std::min(std::max(a.x, b.x), w - 1);
            const quint32* in = src.bits + a.y * src.stride;
            quint32* out = dst.bits + a.y * dst.stride;
            for (int x = x0; x <= x1; ++x)
                out[x] = in[x];
        } else if (a.x == b.x) {
            if (a.x < 0 || a.x >= w) continue;
            const int y0 = std::max(std::min(a.y, b.y), 0),
                      y1 = std::min(std::max(a.y, b.y), h - 1);
            for (int y = y0; y <= y1; ++y)
                dst.bits[y * dst.stride + a.x] = src.bits[y * src.stride + a.x];
        } else {
            copyRegion(from, std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1,
                       std::max(a.y, b.y) + 1);
        }
    }
}

const QImage& QtSurface::image() {
    return d_->image;
}

Rgb QtSurface::pixel(int x, int y) {
    if (!d_->image.valid(x, y)) return Rgb{};
    const QRgb c = d_->image.pixel(x, y);
    return Rgb{static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
               static_cast<std::uint8_t>(qBlue(c))};
}

bool QtSurface::savePng(const std::string& path) {
    return d_->image.save(QString::fromStdString(path), "PNG");
}

}  // namespace kvx
