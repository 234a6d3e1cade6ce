#include "display/layered_qt_surface.h"

#include <QImage>
#include <algorithm>

namespace kvx {

namespace {
// Antialiased edges and glyph overhang reach this far past a call's nominal box.
constexpr int kFringe = 2;
}  // namespace

void LayeredQtSurface::Box::add(const Box& o) {
    if (o.empty()) return;
    if (empty()) {
        *this = o;
        return;
    }
    left = std::min(left, o.left);
    top = std::min(top, o.top);
    right = std::max(right, o.right);
    bottom = std::max(bottom, o.bottom);
}

LayeredQtSurface::LayeredQtSurface(int width, int height)
    : frame_(width, height), layer_(width, height) {}

LayeredQtSurface::~LayeredQtSurface() = default;

TextMetrics LayeredQtSurface::textMetrics() const {
    return frame_.metricsOf(state_.font);
}

void LayeredQtSurface::add(Op op, std::initializer_list<int> args, Rgb colour) {
    Call c;
    c.op = op;
    c.fixed = fixedDepth_ > 0;
    std::copy(args.begin(), args.end(), c.a);
    c.colour = colour;
    c.state = state_;
    calls_.push_back(c);
}

void LayeredQtSurface::fillRect(int left, int top, int right, int bottom, Rgb colour) {
    add(Op::FillRect, {left, top, right, bottom}, colour);
}
void LayeredQtSurface::rectangle(int left, int top, int right, int bottom) {
    add(Op::Rectangle, {left, top, right, bottom});
}
void LayeredQtSurface::ellipse(int left, int top, int right, int bottom) {
    add(Op::Ellipse, {left, top, right, bottom});
}
void LayeredQtSurface::arc(int left, int top, int right, int bottom, int xStart, int yStart,
                           int xEnd, int yEnd) {
    add(Op::Arc, {left, top, right, bottom, xStart, yStart, xEnd, yEnd});
}
void LayeredQtSurface::moveTo(int x, int y) {
    curX_ = x;
    curY_ = y;
}
void LayeredQtSurface::lineTo(int x, int y) {
    add(Op::Line, {curX_, curY_, x, y});
    curX_ = x;
    curY_ = y;
}
void LayeredQtSurface::text(int x, int y, std::string_view text) {
    if (text.empty()) return;  // draws nothing
    add(Op::Text, {x, y});
    calls_.back().textAt = static_cast<std::uint32_t>(texts_.size());
    calls_.back().textLength = static_cast<std::uint32_t>(text.size());
    texts_.append(text);
}

void LayeredQtSurface::reset() {
    flush();
    state_ = State{};
    curX_ = curY_ = 0;
    fixedDepth_ = 0;
    midPaint_ = false;
    frame_.reset();
}

void LayeredQtSurface::setLayerEnabled(bool enabled) {
    flush();
    enabled_ = enabled;
    restoreAll_ = true;
}

const QImage& LayeredQtSurface::image() {
    flush();
    return frame_.image();
}
Rgb LayeredQtSurface::pixel(int x, int y) {
    flush();
    return frame_.pixel(x, y);
}
bool LayeredQtSurface::savePng(const std::string& path) {
    flush();
    return frame_.savePng(path);
}

LayeredQtSurface::Box LayeredQtSurface::boxOf(const Call& c) const {
    const auto sorted = [](int l, int t, int r, int b) {
        return Box{std::min(l, r), std::min(t, b), std::max(l, r), std::max(t, b)};
    };
    const Pen& pen = c.state.pen;
    const bool inked = pen.style != PenStyle::None && pen.width > 0;
    Box b;
    switch (c.op) {
        case Op::FillRect:
        case Op::Rectangle:
            b = sorted(c.a[0], c.a[1], c.a[2], c.a[3]);
            break;
        case Op::Ellipse:
            b = sorted(c.a[0], c.a[1], c.a[2], c.a[3]);
            if (b.empty()) return Box{};
            b = Box{b.left - kFringe, b.top - kFringe, b.right + kFringe, b.bottom + kFringe};
            break;
        case Op::Arc:
        case Op::Line: {
            if (!inked) return Box{};
            if (c.op == Op::Arc) {
                b = sorted(c.a[0], c.a[1], c.a[2], c.a[3]);
            } else {
                b = Box{std::min(c.a[0], c.a[2]), std::min(c.a[1], c.a[3]),
                        std::max(c.a[0], c.a[2]) + 1, std::max(c.a[1], c.a[3]) + 1};
                // Thin straight solid lines are filled pixel for pixel, without antialiasing.
                if (pen.width <= 1 && pen.style == PenStyle::Solid &&
                    (c.a[0] == c.a[2] || c.a[1] == c.a[3]))
                    break;
            }
            const int m = pen.width / 2 + kFringe;
            b = Box{b.left - m, b.top - m, b.right + m, b.bottom + m};
            break;
        }
        case Op::Text: {
            const std::string_view s(texts_.data() + c.textAt, c.textLength);
            const int w = frame_.textWidth(c.state.font, s);
            const int h = frame_.metricsOf(c.state.font).height;
            int left = c.a[0];
            if (c.state.align.h == HAlign::Centre) left -= w / 2;
            if (c.state.align.h == HAlign::Right) left -= w;
            const int top = c.state.align.v == VAlign::Top ? c.a[1] : c.a[1] - h;
            // Glyphs stay inside their cell vertically but may overhang their advance a little.
            b = Box{left - kFringe, top - 1, left + w + kFringe, top + h + 1};
            break;
        }
    }
    return b;
}

void LayeredQtSurface::markTiles(std::vector<std::uint8_t>& tiles, const Box& b) const {
    if (b.empty()) return;
    const int across = tilesAcross();
    const int x0 = std::max(b.left, 0) / kTile;
    const int y0 = std::max(b.top, 0) / kTile;
    const int x1 = std::min((b.right - 1) / kTile, across - 1);
    const int y1 = std::min((b.bottom - 1) / kTile, tilesDown() - 1);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            tiles[static_cast<std::size_t>(y * across + x)] = 1;
}

void LayeredQtSurface::draw(QtSurface& s, const std::vector<Call>& calls, const std::string& texts,
                            bool fixed, bool all) const {
    bool fontKnown = false;
    FontChoice font = FontChoice::Default;
    for (const Call& c : calls) {
        if (!all && c.fixed != fixed) continue;
        const State& st = c.state;
        s.setPen(st.pen);
        s.setBrush(st.brush);
        s.setTextColour(st.textColour);
        s.setTextAlign(st.align);
        s.setTransparentBackground(st.transparent);
        s.setBackgroundColour(st.background);
        // Selecting a font sets it on the painter; the rest only store.
        if (!fontKnown || st.font != font) {
            s.selectFont(st.font);
            font = st.font;
            fontKnown = true;
        }
        const int* a = c.a;
        switch (c.op) {
            case Op::FillRect:
                s.fillRect(a[0], a[1], a[2], a[3], c.colour);
                break;
            case Op::Rectangle:
                s.rectangle(a[0], a[1], a[2], a[3]);
                break;
            case Op::Ellipse:
                s.ellipse(a[0], a[1], a[2], a[3]);
                break;
            case Op::Arc:
                s.arc(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
                break;
            case Op::Line:
                s.moveTo(a[0], a[1]);
                s.lineTo(a[2], a[3]);
                break;
            case Op::Text:
                s.text(a[0], a[1], std::string_view(texts.data() + c.textAt, c.textLength));
                break;
        }
    }
}

bool LayeredQtSurface::fixedPartsChanged() const {
    if (!layerValid_) return true;
    std::size_t j = 0;
    for (const Call& c : calls_) {
        if (!c.fixed) continue;
        if (j == layerCalls_.size()) return true;
        const Call& l = layerCalls_[j++];
        Call same = c;
        same.textAt = l.textAt;
        if (!(same == l)) return true;
        if (c.op == Op::Text && std::string_view(texts_.data() + c.textAt, c.textLength) !=
                                    std::string_view(layerTexts_.data() + l.textAt, l.textLength))
            return true;
    }
    return j != layerCalls_.size();
}

void LayeredQtSurface::flush() {
    if (calls_.empty()) return;
    const auto done = [this] {
        calls_.clear();
        texts_.clear();
        midPaint_ = true;
    };
    if (!enabled_ || midPaint_) {
        draw(frame_, calls_, texts_, false, true);
        restoreAll_ = true;
        ++counts_.callByCall;
        done();
        return;
    }

    // Where the calls that are not fixed draw, run by run. A fixed call over an earlier run has
    // to lie above it, which the layer underneath cannot do: that call is drawn with the runs
    // instead, and so is any fixed call over it in turn.
    std::vector<Box> runs;
    Box run, over;
    int moved = 0;
    for (Call& c : calls_) {
        const Box b = boxOf(c);
        if (c.fixed && b.meets(over)) {
            bool below = b.meets(run);
            for (std::size_t i = 0; !below && i < runs.size(); ++i)
                below = b.meets(runs[i]);
            if (below) {
                c.fixed = false;
                ++moved;
            }
        }
        if (c.fixed) {
            if (!run.empty()) {
                runs.push_back(run);
                run = Box{};
            }
        } else {
            run.add(b);
            over.add(b);
        }
    }
    if (!run.empty()) runs.push_back(run);
    counts_.movedOffLayer = moved;

    if (fixedPartsChanged()) {
        // The layer starts from the picture as it stands, as the fixed calls would find it.
        layer_.copyRegion(frame_, 0, 0, frame_.width(), frame_.height());
        layer_.reset();
        draw(layer_, calls_, texts_, true, false);
        layerCalls_.clear();
        layerTexts_.clear();
        for (const Call& c : calls_) {
            if (!c.fixed) continue;
            layerCalls_.push_back(c);
            if (c.op == Op::Text) {
                layerCalls_.back().textAt = static_cast<std::uint32_t>(layerTexts_.size());
                layerTexts_.append(texts_, c.textAt, c.textLength);
            }
        }
        layerValid_ = true;
        restoreAll_ = true;
        ++counts_.layerBuilds;
    } else {
        ++counts_.fromLayer;
    }

    // Back to the layer wherever this paint or the previous one draws over it.
    const int across = tilesAcross();
    drawing_.assign(static_cast<std::size_t>(across * tilesDown()), 0);
    for (const Call& c : calls_)
        if (!c.fixed) markTiles(drawing_, boxOf(c));
    if (restoreAll_ || drawnOver_.size() != drawing_.size()) {
        frame_.copyRegion(layer_, 0, 0, frame_.width(), frame_.height());
    } else {
        for (int ty = 0; ty < tilesDown(); ++ty) {
            const std::size_t row = static_cast<std::size_t>(ty * across);
            for (int tx = 0; tx < across;) {
                const auto marked = [&](int x) {
                    return drawing_[row + static_cast<std::size_t>(x)] |
                           drawnOver_[row + static_cast<std::size_t>(x)];
                };
                if (!marked(tx)) {
                    ++tx;
                    continue;
                }
                const int from = tx;
                while (tx < across && marked(tx))
                    ++tx;
                frame_.copyRegion(layer_, from * kTile, ty * kTile, tx * kTile, (ty + 1) * kTile);
            }
        }
    }
    draw(frame_, calls_, texts_, false, false);
    drawnOver_.swap(drawing_);
    restoreAll_ = false;
    done();
}

}  // namespace kvx
