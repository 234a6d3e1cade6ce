#include "display/layered_qt_surface.h"

#include <QImage>
#include <algorithm>
#include <cstdlib>

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
    c.fixed = c.marked = fixedDepth_ > 0;
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
    calls_.back().dataAt = static_cast<std::uint32_t>(data_.texts.size());
    calls_.back().dataLength = static_cast<std::uint32_t>(text.size());
    data_.texts.append(text);
}

void LayeredQtSurface::polyline(const Vertex* vertices, std::size_t count) {
    if (count == 0) return;
    int l = vertices[0].x, t = vertices[0].y, r = l, b = t;
    bool straight = true;
    for (std::size_t i = 1; i < count; ++i) {
        const Vertex v = vertices[i];
        l = std::min(l, v.x);
        t = std::min(t, v.y);
        r = std::max(r, v.x);
        b = std::max(b, v.y);
        straight = straight && (v.x == vertices[i - 1].x || v.y == vertices[i - 1].y);
    }
    add(Op::Polyline, {l, t, r, b, straight ? 1 : 0});
    calls_.back().dataAt = static_cast<std::uint32_t>(data_.vertices.size());
    calls_.back().dataLength = static_cast<std::uint32_t>(count);
    data_.vertices.insert(data_.vertices.end(), vertices, vertices + count);
    curX_ = vertices[count - 1].x;
    curY_ = vertices[count - 1].y;
}

void LayeredQtSurface::expectVertices(std::size_t count) {
    data_.vertices.reserve(data_.vertices.size() + count);
    drawnAlong_.vertices.reserve(count);
    previousAlong_.vertices.reserve(count);
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

// The pixels lines within (x0, y0)..(x1, y1) inclusive may touch.
LayeredQtSurface::Box LayeredQtSurface::lineBox(const Pen& pen, int x0, int y0, int x1, int y1,
                                                bool straight) {
    if (pen.style == PenStyle::None || pen.width <= 0) return Box{};
    Box b{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1};
    // Thin straight solid lines are filled pixel for pixel, without antialiasing.
    if (pen.width <= 1 && pen.style == PenStyle::Solid && straight) return b;
    const int m = pen.width / 2 + kFringe;
    return Box{b.left - m, b.top - m, b.right + m, b.bottom + m};
}

// A polyline of straight thin solid lines: a trace, filled pixel for pixel.
bool LayeredQtSurface::isRun(const Call& c) {
    const Pen& pen = c.state.pen;
    return c.op == Op::Polyline && c.a[4] != 0 && pen.width == 1 && pen.style == PenStyle::Solid;
}

void LayeredQtSurface::addDrawn(const Call& c) {
    const Pen& pen = c.state.pen;
    if (isRun(c)) {
        const auto first = data_.vertices.begin() + c.dataAt;
        Runs& r = drawnAlong_;
        r.vertices.insert(r.vertices.end(), first, first + c.dataLength);
        r.ends.push_back(static_cast<std::uint32_t>(r.vertices.size()));
        r.colours.push_back(pen.colour);
        return;
    }
    if (const Box b = boxOf(c); !b.empty()) drawnOver_.push_back(b);
}

LayeredQtSurface::Box LayeredQtSurface::Runs::box(std::size_t run) const {
    const std::size_t from = run == 0 ? 0 : ends[run - 1];
    Box b;
    for (std::size_t i = from; i < ends[run]; ++i)
        b.add(Box{vertices[i].x, vertices[i].y, vertices[i].x + 1, vertices[i].y + 1});
    return b;
}

void LayeredQtSurface::markSameRuns() {
    const Runs& now = drawnAlong_;
    const Runs& before = previousAlong_;
    runSame_.assign(now.ends.size(), 0);
    if (restoreAll_) return;
    for (std::size_t k = 0; k < now.ends.size() && k < before.ends.size(); ++k) {
        if (now.colours[k] != before.colours[k]) continue;
        const auto span = [](const Runs& r, std::size_t run) {
            const std::uint32_t from = run == 0 ? 0 : r.ends[run - 1];
            return std::pair{r.vertices.begin() + from, r.vertices.begin() + r.ends[run]};
        };
        const auto [a0, a1] = span(now, k);
        const auto [b0, b1] = span(before, k);
        runSame_[k] = std::equal(a0, a1, b0, b1) ? 1 : 0;
    }
}

// Fills the pixels of a run's lines that lie inside any of the boxes.
void LayeredQtSurface::drawRunWithin(QtSurface& s, const Call& c, const Data& data,
                                     const std::vector<Box>& boxes) const {
    const Box around{c.a[0], c.a[1], c.a[2] + 1, c.a[3] + 1};
    std::vector<Box>& near = nearRun_;
    near.clear();
    for (const Box& b : boxes)
        if (b.meets(around)) near.push_back(b);
    if (near.empty()) return;
    const Rgb colour = c.state.pen.colour;
    const Vertex* v = data.vertices.data() + c.dataAt;
    for (std::uint32_t i = 1; i < c.dataLength; ++i) {
        const Vertex a = v[i - 1], b = v[i];
        // The pixels lineTo fills: from the start up to, not including, the end.
        Box line;
        if (a.y == b.y) {
            const int from = b.x > a.x ? a.x : b.x + 1;
            line = Box{from, a.y, from + std::abs(b.x - a.x), a.y + 1};
        } else {
            const int from = b.y > a.y ? a.y : b.y + 1;
            line = Box{a.x, from, a.x + 1, from + std::abs(b.y - a.y)};
        }
        for (const Box& n : near)
            if (line.meets(n))
                s.fillRect(std::max(line.left, n.left), std::max(line.top, n.top),
                           std::min(line.right, n.right), std::min(line.bottom, n.bottom), colour);
    }
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
            if (!inked) return Box{};
            b = sorted(c.a[0], c.a[1], c.a[2], c.a[3]);
            b = Box{b.left - pen.width / 2 - kFringe, b.top - pen.width / 2 - kFringe,
                    b.right + pen.width / 2 + kFringe, b.bottom + pen.width / 2 + kFringe};
            break;
        case Op::Line:
            return lineBox(pen, c.a[0], c.a[1], c.a[2], c.a[3],
                           c.a[0] == c.a[2] || c.a[1] == c.a[3]);
        case Op::Polyline:
            return lineBox(pen, c.a[0], c.a[1], c.a[2], c.a[3], c.a[4] != 0);
        case Op::Text: {
            const std::string_view s(data_.texts.data() + c.dataAt, c.dataLength);
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

void LayeredQtSurface::draw(QtSurface& s, const std::vector<Call>& calls, const Data& data,
                            bool fixed, bool all) const {
    bool fontKnown = false;
    FontChoice font = FontChoice::Default;
    for (const Call& c : calls)
        if (all || c.fixed == fixed) drawCall(s, c, data, font, fontKnown);
}

void LayeredQtSurface::drawCall(QtSurface& s, const Call& c, const Data& data, FontChoice& font,
                                bool& fontKnown) const {
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
            s.text(a[0], a[1], std::string_view(data.texts.data() + c.dataAt, c.dataLength));
            break;
        case Op::Polyline:
            s.polyline(data.vertices.data() + c.dataAt, c.dataLength);
            break;
    }
}

bool LayeredQtSurface::sameData(const Call& c, const Data& from, const Call& l,
                                const Data& lfrom) const {
    switch (c.op) {
        case Op::Text:
            return std::string_view(from.texts.data() + c.dataAt, c.dataLength) ==
                   std::string_view(lfrom.texts.data() + l.dataAt, l.dataLength);
        case Op::Polyline:
            return std::equal(from.vertices.begin() + c.dataAt,
                              from.vertices.begin() + c.dataAt + c.dataLength,
                              lfrom.vertices.begin() + l.dataAt);
        default:
            return true;
    }
}

bool LayeredQtSurface::fixedPartsChanged() const {
    if (!layerValid_) return true;
    std::size_t j = 0;
    for (const Call& c : calls_) {
        if (!c.marked) continue;
        if (j == layerCalls_.size()) return true;
        const Call& l = layerCalls_[j++];
        Call same = c;
        same.fixed = l.fixed;
        same.dataAt = l.dataAt;
        if (!(same == l) || !sameData(c, data_, l, layerData_)) return true;
    }
    return j != layerCalls_.size();
}

// A fixed call once drawn in its turn stays off the layer while the layer is kept: values
// that come and go under it would otherwise rebuild the layer again and again.
// Returns whether the layer is kept.
bool LayeredQtSurface::keepOffLayer() {
    const bool kept = !fixedPartsChanged();
    if (!kept) offLayer_.clear();
    std::size_t marked = 0;
    for (Call& c : calls_) {
        if (!c.marked) continue;
        if (marked < offLayer_.size() && offLayer_[marked]) c.fixed = false;
        ++marked;
    }
    offLayer_.resize(marked, false);
    return kept;
}

// Where the calls that are not fixed draw, run by run. A fixed call over an earlier run has
// to lie above it, which the layer underneath cannot do: that call is drawn with the runs
// instead, and so is any fixed call over it in turn.
// Returns whether a call was moved off the layer.
bool LayeredQtSurface::moveCallsUnderRunsOffLayer() {
    std::vector<Box> runs;
    Box run, over;
    bool grew = false;
    std::size_t ordinal = 0;
    for (Call& c : calls_) {
        const Box b = boxOf(c);
        if (c.fixed && b.meets(over)) {
            bool below = b.meets(run);
            for (std::size_t i = 0; !below && i < runs.size(); ++i)
                below = b.meets(runs[i]);
            if (below) {
                c.fixed = false;
                offLayer_[ordinal] = true;
                grew = true;
            }
        }
        if (c.marked) ++ordinal;
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
    counts_.movedOffLayer = static_cast<int>(std::count(offLayer_.begin(), offLayer_.end(), true));
    return grew;
}

// The layer starts from the picture as it stands, as the fixed calls would find it.
void LayeredQtSurface::buildLayer() {
    layer_.copyRegion(frame_, 0, 0, frame_.width(), frame_.height());
    layer_.reset();
    draw(layer_, calls_, data_, true, false);
    layerCalls_.clear();
    layerData_.clear();
    for (const Call& c : calls_) {
        if (!c.marked) continue;
        layerCalls_.push_back(c);
        if (c.op == Op::Text) {
            layerCalls_.back().dataAt = static_cast<std::uint32_t>(layerData_.texts.size());
            layerData_.texts.append(data_.texts, c.dataAt, c.dataLength);
        } else if (c.op == Op::Polyline) {
            layerCalls_.back().dataAt = static_cast<std::uint32_t>(layerData_.vertices.size());
            const auto first = data_.vertices.begin() + c.dataAt;
            layerData_.vertices.insert(layerData_.vertices.end(), first, first + c.dataLength);
        }
    }
    layerValid_ = true;
    restoreAll_ = true;
    ++counts_.layerBuilds;
}

// What this paint draws over the layer, beside what the last one did; the runs (traces)
// drawn again exactly as the last paint drew them are left standing.
void LayeredQtSurface::compareWithLastPaint() {
    changed_.clear();
    changed_.swap(drawnOver_);
    previousAlong_.clear();
    std::swap(previousAlong_, drawnAlong_);
    for (const Call& c : calls_)
        if (!c.fixed) addDrawn(c);
    markSameRuns();
}

// Back to the layer wherever the last paint drew over it, but along the runs left standing.
void LayeredQtSurface::restoreFromLayer() {
    if (restoreAll_) {
        frame_.copyRegion(layer_, 0, 0, frame_.width(), frame_.height());
        changed_.assign(1, Box{0, 0, frame_.width(), frame_.height()});
    } else {
        for (const Box& b : changed_)
            frame_.copyRegion(layer_, b.left, b.top, b.right, b.bottom);
        const Runs& before = previousAlong_;
        const Runs& now = drawnAlong_;
        for (std::size_t k = 0; k < before.ends.size(); ++k) {
            if (k < runSame_.size() && runSame_[k]) continue;
            const std::uint32_t from = k == 0 ? 0 : before.ends[k - 1];
            frame_.copyAlong(layer_, before.vertices.data() + from, before.ends[k] - from);
            changed_.push_back(before.box(k));
        }
        for (std::size_t k = 0; k < now.ends.size(); ++k)
            if (!runSame_[k]) changed_.push_back(now.box(k));
        changed_.insert(changed_.end(), drawnOver_.begin(), drawnOver_.end());
    }
}

// A run left standing is drawn again only where something else changed the picture, which
// may lie under or over it: everywhere else its pixels are as the last paint left them, and
// its opaque lines are the same whatever lay under them.
void LayeredQtSurface::drawOverLayer() {
    bool fontKnown = false;
    FontChoice font = FontChoice::Default;
    std::size_t runIndex = 0;
    for (const Call& c : calls_) {
        if (c.fixed) continue;
        if (isRun(c) && runSame_[runIndex++]) {
            drawRunWithin(frame_, c, data_, changed_);
            continue;
        }
        drawCall(frame_, c, data_, font, fontKnown);
    }
}

void LayeredQtSurface::flush() {
    if (calls_.empty()) return;
    const auto done = [this] {
        calls_.clear();
        data_.clear();
        midPaint_ = true;
    };
    if (!enabled_ || midPaint_) {
        draw(frame_, calls_, data_, false, true);
        changed_.assign(1, Box{0, 0, frame_.width(), frame_.height()});
        restoreAll_ = true;
        ++counts_.callByCall;
        done();
        return;
    }

    const bool kept = keepOffLayer();
    const bool grew = moveCallsUnderRunsOffLayer();
    if (!kept || grew) {
        buildLayer();
    } else {
        ++counts_.fromLayer;
    }
    compareWithLastPaint();
    restoreFromLayer();
    drawOverLayer();
    restoreAll_ = false;
    done();
}

}  // namespace kvx
