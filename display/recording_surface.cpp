#include "display/recording_surface.h"

namespace kvx {

RecordingSurface::RecordingSurface(TextMetrics defaultFont, TextMetrics smallFont)
    : defaultMetrics_(defaultFont), smallMetrics_(smallFont) {}

TextMetrics RecordingSurface::textMetrics() const {
    return font_ == FontChoice::Small ? smallMetrics_ : defaultMetrics_;
}

DrawCall RecordingSurface::make(DrawOp op) const {
    DrawCall c;
    c.op = op;
    c.pen = pen_;
    c.brush = brush_;
    c.textColour = textColour_;
    c.align = align_;
    c.transparent = transparent_;
    c.background = background_;
    c.font = font_;
    return c;
}

void RecordingSurface::fillRect(int left, int top, int right, int bottom, Rgb colour) {
    DrawCall c = make(DrawOp::FillRect);
    c.x0 = left, c.y0 = top, c.x1 = right, c.y1 = bottom;
    c.fillColour = colour;
    calls_.push_back(std::move(c));
}

void RecordingSurface::rectangle(int left, int top, int right, int bottom) {
    DrawCall c = make(DrawOp::Rectangle);
    c.x0 = left, c.y0 = top, c.x1 = right, c.y1 = bottom;
    calls_.push_back(std::move(c));
}

void RecordingSurface::ellipse(int left, int top, int right, int bottom) {
    DrawCall c = make(DrawOp::Ellipse);
    c.x0 = left, c.y0 = top, c.x1 = right, c.y1 = bottom;
    calls_.push_back(std::move(c));
}

void RecordingSurface::arc(int left, int top, int right, int bottom, int xStart, int yStart,
                           int xEnd, int yEnd) {
    DrawCall c = make(DrawOp::Arc);
    c.x0 = left, c.y0 = top, c.x1 = right, c.y1 = bottom;
    c.x2 = xStart, c.y2 = yStart, c.x3 = xEnd, c.y3 = yEnd;
    calls_.push_back(std::move(c));
}

void RecordingSurface::moveTo(int x, int y) {
    curX_ = x;
    curY_ = y;
}

void RecordingSurface::lineTo(int x, int y) {
    DrawCall c = make(DrawOp::Line);
    c.x0 = curX_, c.y0 = curY_, c.x1 = x, c.y1 = y;
    calls_.push_back(std::move(c));
    curX_ = x;
    curY_ = y;
}

void RecordingSurface::text(int x, int y, std::string_view text) {
    DrawCall c = make(DrawOp::Text);
    c.x0 = x, c.y0 = y;
    c.text = std::string(text);
    calls_.push_back(std::move(c));
}

std::vector<DrawCall> RecordingSurface::callsOf(DrawOp op) const {
    std::vector<DrawCall> out;
    for (const DrawCall& c : calls_)
        if (c.op == op) out.push_back(c);
    return out;
}

std::vector<DrawCall> RecordingSurface::textCalls(std::string_view text) const {
    std::vector<DrawCall> out;
    for (const DrawCall& c : calls_)
        if (c.op == DrawOp::Text && c.text == text) out.push_back(c);
    return out;
}

}  // namespace kvx
