#pragma once
// The drawing interface every widget paints on. It is shaped like a device context: state
// (pen, brush, text colour, alignment, background, font) is selected first and then used by the
// drawing calls.
//
// Coordinate conventions (integer pixels, x to the right, y downward, origin top-left):
// - rectangle() and ellipse() fill and outline the box from (left, top) up to but not including
//   (right, bottom). Corners may come in either order.
// - lineTo() draws from the current position to (x, y) without painting the end point, then
//   makes (x, y) the current position. moveTo() only moves.
// - arc() runs counter-clockwise (as seen on screen) from the direction of the start point to
//   the direction of the end point, both taken from the centre of the bounding box, along the
//   ellipse inscribed in that box. The corners of the box may come in either order. Equal
//   directions draw the whole ellipse.
// - Text alignment refers to the character cell, not the baseline: Top puts the cell's top at
//   y, Bottom its bottom (baseline = y - descent); Centre and Right align the cell
//   horizontally on x.
// - The default font is a bold proportional sans of about 16 pixels per cell; the small font
//   is the one of narrow windows, a sans of about 13 pixels per cell.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kvx {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

enum class PenStyle : std::uint8_t { Solid, Dash, Dot, None };

struct Pen {
    Rgb colour{};
    int width = 1;
    PenStyle style = PenStyle::Solid;
    friend constexpr bool operator==(const Pen&, const Pen&) = default;
};

// A brush is a fill colour, or none (shapes are outlined only).
struct Brush {
    Rgb colour{};
    bool none = false;
    friend constexpr bool operator==(const Brush&, const Brush&) = default;
};

struct Vertex {
    int x = 0, y = 0;
    friend constexpr bool operator==(Vertex, Vertex) = default;
};

enum class HAlign : std::uint8_t { Left, Centre, Right };
enum class VAlign : std::uint8_t { Top, Bottom };

struct TextAlign {
    HAlign h = HAlign::Left;
    VAlign v = VAlign::Top;
    friend constexpr bool operator==(TextAlign, TextAlign) = default;
};

enum class FontChoice : std::uint8_t { Default, Small };

struct TextMetrics {
    int height = 0;        // character cell height
    int averageWidth = 0;  // average character width
};

// The stock objects the widgets select between their own pens and brushes.
inline constexpr Pen kBlackPen{{0, 0, 0}, 1, PenStyle::Solid};
inline constexpr Pen kWhitePen{{255, 255, 255}, 1, PenStyle::Solid};
inline constexpr Brush kBlackBrush{{0, 0, 0}, false};
inline constexpr Brush kWhiteBrush{{255, 255, 255}, false};
inline constexpr Brush kNoBrush{{0, 0, 0}, true};

// A fresh surface has the black pen, the white brush, black text, top-left alignment, an opaque
// white text background, the default font and the current position at (0, 0).
class Surface {
  public:
    virtual ~Surface() = default;

    virtual void setPen(const Pen& pen) = 0;
    virtual void setBrush(const Brush& brush) = 0;
    virtual void setTextColour(Rgb colour) = 0;
    virtual void setTextAlign(TextAlign align) = 0;
    // Opaque text fills its cell with the background colour first; transparent does not.
    virtual void setTransparentBackground(bool transparent) = 0;
    virtual void setBackgroundColour(Rgb colour) = 0;
    virtual void selectFont(FontChoice font) = 0;
    virtual TextMetrics textMetrics() const = 0;

    // Fills (left, top)..(right, bottom) exclusive with a colour; no outline, pen and brush
    // untouched.
    virtual void fillRect(int left, int top, int right, int bottom, Rgb colour) = 0;
    virtual void rectangle(int left, int top, int right, int bottom) = 0;
    virtual void ellipse(int left, int top, int right, int bottom) = 0;
    virtual void arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd,
                     int yEnd) = 0;
    virtual void moveTo(int x, int y) = 0;
    virtual void lineTo(int x, int y) = 0;
    virtual void text(int x, int y, std::string_view text) = 0;
    // Connected lines: moveTo the first vertex, then lineTo each further one in turn. A surface
    // may draw the run in one go; the lines and the current position are the same.
    virtual void polyline(const Vertex* vertices, std::size_t count) {
        if (count == 0) return;
        moveTo(vertices[0].x, vertices[0].y);
        for (std::size_t i = 1; i < count; ++i)
            lineTo(vertices[i].x, vertices[i].y);
    }

    // The polylines of the paint to come hold up to count vertices in all. A surface that keeps
    // what it draws may make room for them at once, rather than grow paint by paint as a chart
    // fills up.
    virtual void expectVertices(std::size_t count) { (void)count; }

    // What is drawn between beginFixed and endFixed (dial faces, scales, frames, the grid) looks
    // the same from paint to paint while the layout and ranges stay, so a surface may keep it
    // from one paint to the next instead of drawing it again. The marks change nothing drawn;
    // pairs may nest.
    virtual void beginFixed() {}
    virtual void endFixed() {}
};

// Marks the drawing of its scope as fixed.
class FixedScope {
  public:
    explicit FixedScope(Surface& s) : s_(s) { s_.beginFixed(); }
    ~FixedScope() { s_.endFixed(); }
    FixedScope(const FixedScope&) = delete;
    FixedScope& operator=(const FixedScope&) = delete;

  private:
    Surface& s_;
};

}  // namespace kvx
