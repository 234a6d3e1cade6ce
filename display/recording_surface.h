#pragma once
// A Surface that draws nothing and keeps every drawing call with its integer coordinates and
// the state in force, so the exact geometry a widget produces can be checked.
#include <string>
#include <string_view>
#include <vector>

#include "display/surface.h"

namespace kvx {

enum class DrawOp : std::uint8_t { FillRect, Rectangle, Ellipse, Arc, Line, Text };

struct DrawCall {
    DrawOp op = DrawOp::Line;
    // FillRect, Rectangle, Ellipse, Arc: the box as passed. Line: from (x0, y0) to (x1, y1).
    // Arc: start point (x2, y2), end point (x3, y3). Text: the reference point (x0, y0).
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0, x2 = 0, y2 = 0, x3 = 0, y3 = 0;
    std::string text;
    Rgb fillColour{};  // FillRect only
    // State in force when the call was made.
    Pen pen{};
    Brush brush{};
    Rgb textColour{};
    TextAlign align{};
    bool transparent = false;
    Rgb background{};
    FontChoice font = FontChoice::Default;
};

class RecordingSurface : public Surface {
  public:
    // Metrics reported for the two fonts; the defaults stand for a 16 px and a 12 px face.
    explicit RecordingSurface(TextMetrics defaultFont = {16, 7}, TextMetrics smallFont = {12, 5});

    void setPen(const Pen& pen) override { pen_ = pen; }
    void setBrush(const Brush& brush) override { brush_ = brush; }
    void setTextColour(Rgb colour) override { textColour_ = colour; }
    void setTextAlign(TextAlign align) override { align_ = align; }
    void setTransparentBackground(bool transparent) override { transparent_ = transparent; }
    void setBackgroundColour(Rgb colour) override { background_ = colour; }
    void selectFont(FontChoice font) override { font_ = font; }
    TextMetrics textMetrics() const override;

    void fillRect(int left, int top, int right, int bottom, Rgb colour) override;
    void rectangle(int left, int top, int right, int bottom) override;
    void ellipse(int left, int top, int right, int bottom) override;
    void arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd,
             int yEnd) override;
    void moveTo(int x, int y) override;
    void lineTo(int x, int y) override;
    void text(int x, int y, std::string_view text) override;

    const std::vector<DrawCall>& calls() const { return calls_; }
    std::vector<DrawCall> callsOf(DrawOp op) const;
    // The text calls showing exactly this text.
    std::vector<DrawCall> textCalls(std::string_view text) const;
    bool hasText(std::string_view text) const { return !textCalls(text).empty(); }
    void clearCalls() { calls_.clear(); }

  private:
    DrawCall make(DrawOp op) const;

    TextMetrics defaultMetrics_, smallMetrics_;
    Pen pen_ = kBlackPen;
    Brush brush_ = kWhiteBrush;
    Rgb textColour_{};
    TextAlign align_{};
    bool transparent_ = false;
    Rgb background_{255, 255, 255};
    FontChoice font_ = FontChoice::Default;
    int curX_ = 0, curY_ = 0;
    std::vector<DrawCall> calls_;
};

}  // namespace kvx
