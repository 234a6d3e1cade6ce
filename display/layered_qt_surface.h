#pragma once
// A QtSurface for a window that repaints the same scene over and over: what is drawn between
// beginFixed and endFixed is kept as a layer and drawn again only when it changes (size,
// ranges, zoom, bank); each paint then starts from that layer and draws only the rest.
//
// A paint runs from construction or reset() until the picture is read (image(), pixel(),
// savePng()); the calls are collected and drawn when it is read. The picture is the one a
// QtSurface gives for the same calls, pixel for pixel, provided the paint covers the whole
// surface with fixed drawing first (the panel fills its background): the layer is built over
// the picture as it was when it was built, and what a paint drew outside the fixed parts is
// taken away again before the next one.
//
// Where something fixed lands on top of something drawn before it that is not fixed, the layer
// cannot hold it: that call is drawn with the rest instead, in its turn, as long as the layer is
// kept.
//
// Taking back the last paint costs in proportion to what it drew, not to the picture: boxes for
// most calls, the pixels along the lines for thin straight polylines (the chart's traces). A
// trace drawn exactly as in the last paint (playback within a chunk) is left standing and drawn
// again only where something else changed. changed() tells a window what to copy to the screen.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "display/qt_surface.h"

namespace kvx {

class LayeredQtSurface : public Surface {
  public:
    LayeredQtSurface(int width, int height);
    ~LayeredQtSurface() override;
    LayeredQtSurface(const LayeredQtSurface&) = delete;
    LayeredQtSurface& operator=(const LayeredQtSurface&) = delete;

    void setPen(const Pen& pen) override { state_.pen = pen; }
    void setBrush(const Brush& brush) override { state_.brush = brush; }
    void setTextColour(Rgb colour) override { state_.textColour = colour; }
    void setTextAlign(TextAlign align) override { state_.align = align; }
    void setTransparentBackground(bool transparent) override { state_.transparent = transparent; }
    void setBackgroundColour(Rgb colour) override { state_.background = colour; }
    void selectFont(FontChoice font) override { state_.font = font; }
    TextMetrics textMetrics() const override;

    void fillRect(int left, int top, int right, int bottom, Rgb colour) override;
    void rectangle(int left, int top, int right, int bottom) override;
    void ellipse(int left, int top, int right, int bottom) override;
    void arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd,
             int yEnd) override;
    void moveTo(int x, int y) override;
    void lineTo(int x, int y) override;
    void text(int x, int y, std::string_view text) override;
    void polyline(const Vertex* vertices, std::size_t count) override;
    // Room for count more vertices in this paint and for the runs kept from one paint to the
    // next, so that a chart filling up over a quarter of an hour does not grow them step by step.
    void expectVertices(std::size_t count) override;
    void beginFixed() override { ++fixedDepth_; }
    void endFixed() override {
        if (fixedDepth_ > 0) --fixedDepth_;
    }

    // Starts a new paint with a fresh surface's drawing state; the picture is kept.
    void reset();
    // Off draws every paint call by call, as a plain QtSurface (for comparison).
    void setLayerEnabled(bool enabled);

    int width() const { return frame_.width(); }
    int height() const { return frame_.height(); }
    const QImage& image();
    Rgb pixel(int x, int y);
    bool savePng(const std::string& path);

    // How the paints so far were drawn: over the kept layer, after building the layer anew, or
    // call by call.
    struct Counts {
        int fromLayer = 0;
        int layerBuilds = 0;
        int callByCall = 0;
        // Of the last paint: fixed calls drawn in their turn over the layer because they lie,
        // or once lay while the layer was kept, above something that is not fixed.
        int movedOffLayer = 0;
    };
    Counts counts() const { return counts_; }

    // Pixels (left, top)..(right, bottom) exclusive.
    struct Box {
        int left = 0, top = 0, right = 0, bottom = 0;
        bool empty() const { return right <= left || bottom <= top; }
        bool meets(const Box& o) const {
            return !empty() && !o.empty() && left < o.right && o.left < right && top < o.bottom &&
                   o.top < bottom;
        }
        void add(const Box& o);
    };
    // Where the last paint drawn may have changed the picture from the one before it, so a
    // window need copy no more than these to the screen; the whole picture after a new layer
    // or a paint drawn call by call.
    const std::vector<Box>& changed() const { return changed_; }

  private:
    enum class Op : std::uint8_t { FillRect, Rectangle, Ellipse, Arc, Line, Text, Polyline };
    struct State {
        Pen pen = kBlackPen;
        Brush brush = kWhiteBrush;
        Rgb textColour{};
        TextAlign align{};
        bool transparent = false;
        Rgb background{255, 255, 255};
        FontChoice font = FontChoice::Default;
        friend bool operator==(const State&, const State&) = default;
    };
    // A text's characters and a polyline's vertices are kept apart, at dataAt, dataLength long;
    // a polyline's a[] holds the box around its vertices and whether every line is straight.
    struct Call {
        Op op = Op::Line;
        bool fixed = false;   // drawn on the layer
        bool marked = false;  // between beginFixed and endFixed
        int a[8] = {};
        Rgb colour{};
        State state;
        std::uint32_t dataAt = 0, dataLength = 0;
        friend bool operator==(const Call&, const Call&) = default;
    };

    void add(Op op, std::initializer_list<int> args, Rgb colour = {});
    Box boxOf(const Call& c) const;
    static Box lineBox(const Pen& pen, int x0, int y0, int x1, int y1, bool straight);
    void flush();
    // The steps of a flush, in their order.
    bool keepOffLayer();
    bool moveCallsUnderRunsOffLayer();
    void buildLayer();
    void compareWithLastPaint();
    void restoreFromLayer();
    void drawOverLayer();
    // The kept parts of one set of calls.
    struct Data {
        std::string texts;
        std::vector<Vertex> vertices;
        void clear() {
            texts.clear();
            vertices.clear();
        }
    };
    bool sameData(const Call& c, const Data& from, const Call& l, const Data& lfrom) const;
    void draw(QtSurface& s, const std::vector<Call>& calls, const Data& data, bool fixed,
              bool all) const;
    void drawCall(QtSurface& s, const Call& c, const Data& data, FontChoice& font,
                  bool& fontKnown) const;
    bool fixedPartsChanged() const;

    QtSurface frame_;
    QtSurface layer_;
    State state_;
    int curX_ = 0, curY_ = 0;
    int fixedDepth_ = 0;
    bool enabled_ = true;
    // The calls of this paint, and the fixed ones the layer was drawn from.
    std::vector<Call> calls_;
    Data data_;
    std::vector<Call> layerCalls_;
    Data layerData_;
    bool layerValid_ = false;
    // By the order of the fixed calls: those kept off the layer.
    std::vector<bool> offLayer_;
    // Where the previous paint drew over the layer: boxes, and the vertices of thin straight
    // polylines (the traces), whose lines cover a small part of their box. The whole picture is
    // taken from the layer when that is unknown. The next paint needs no more: everywhere else
    // the picture is still the layer.
    static bool isRun(const Call& c);
    void addDrawn(const Call& c);
    void markSameRuns();
    void drawRunWithin(QtSurface& s, const Call& c, const Data& data,
                       const std::vector<Box>& boxes) const;
    std::vector<Box> drawnOver_;
    struct Runs {
        std::vector<Vertex> vertices;
        std::vector<std::uint32_t> ends;
        std::vector<Rgb> colours;
        void clear() {
            vertices.clear();
            ends.clear();
            colours.clear();
        }
        Box box(std::size_t run) const;
    };
    Runs drawnAlong_, previousAlong_;
    std::vector<Box> changed_;
    // By run of this paint: drawn exactly as in the last paint.
    std::vector<std::uint8_t> runSame_;
    mutable std::vector<Box> nearRun_;
    bool restoreAll_ = true;
    // After the picture was read within a paint, the rest of it goes call by call.
    bool midPaint_ = false;
    Counts counts_;
};

}  // namespace kvx
