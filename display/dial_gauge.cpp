#include "display/dial_gauge.h"

#include <cmath>
#include <cstring>

#include "display/client_size.h"
#include "display/literal_text.h"
#include "display/number_text.h"
#include "display/palette.h"
#include "display/pixel_math.h"

namespace kvx {

namespace {
// The dial's layout was made with this value of pi; keep it so points land where they did.
constexpr double kPi = 3.14159;
constexpr Rgb kDialFill{230, 242, 242};
constexpr Rgb kInk{7, 0, 0};
constexpr std::size_t kTitleLimit = 24;
constexpr std::size_t kUnitsLimit = 14;

struct LabelPlace {
    TextAlign align;
    int yAdjust;
};
constexpr LabelPlace kLabelPlaces[11] = {
    {{HAlign::Centre, VAlign::Bottom}, 0}, {{HAlign::Left, VAlign::Bottom}, 0},
    {{HAlign::Left, VAlign::Top}, -8},     {{HAlign::Left, VAlign::Top}, 0},
    {{HAlign::Centre, VAlign::Top}, 0},    {{HAlign::Centre, VAlign::Top}, 0},
    {{HAlign::Centre, VAlign::Top}, 0},    {{HAlign::Right, VAlign::Top}, 0},
    {{HAlign::Right, VAlign::Top}, -8},    {{HAlign::Right, VAlign::Bottom}, 0},
    {{HAlign::Centre, VAlign::Bottom}, 0},
};
}  // namespace

bool DialGauge::setCentre(std::int16_t xPercent, std::int16_t yPercent) {
    centreX_ = xPercent / 100.0;
    centreY_ = yPercent / 100.0;
    recompute();
    return true;
}

bool DialGauge::setScale(std::int16_t percent) {
    sizeFraction_ = percent / 100.0;
    recompute();
    return true;
}

bool DialGauge::setSize(ClientSize clientSize) {
    clientSize_ = clientSize;
    recompute();
    return true;
}

void DialGauge::recompute() {
    const int w = clientSize_.width;
    const int h = clientSize_.height;
    const int cx = truncToInt(w * centreX_);
    const int cy = truncToInt(h * centreY_);
    const long long r = truncToInt(w * sizeFraction_ * 0.25);
    cx_ = saturate16(cx);
    cy_ = saturate16(cy);
    left_ = saturate16(cx - r);
    right_ = saturate16(cx + r);
    top_ = saturate16(cy - r);
    bottom_ = saturate16(cy + r);
}

bool DialGauge::setTitles(const char* line1, const char* line2, bool titleInside,
                          std::int16_t colourIndex) {
    if (line1 && std::strlen(line1) <= kTitleLimit) title1_ = literalText(line1);
    if (line2 && std::strlen(line2) <= kTitleLimit) title2_ = literalText(line2);
    titleInside_ = titleInside;
    titleColour_ = colourIndex;
    return true;
}

bool DialGauge::setUnits(const char* text) {
    if (text && std::strlen(text) <= kUnitsLimit) units_ = literalText(text);
    return true;
}

bool DialGauge::setRange(double min, double max) {
    if (max > min) {
        min_ = min;
        max_ = max;
    }
    return true;
}

bool DialGauge::setZone(double from, double to, int zoneNumber, std::int16_t colourIndex) {
    if (zoneNumber < 1 || zoneNumber > 3) return true;
    zone_[zoneNumber - 1] = mapLinear(min_, max_, 0, 300, from);
    zone_[zoneNumber] = mapLinear(min_, max_, 0, 300, to);
    zoneColour_[zoneNumber - 1] = paletteColor(colourIndex);
    return true;
}

void DialGauge::pointAt(double scaleDegree, double radius, int& x, int& y) const {
    const double theta = (scaleDegree + 120) * kPi / 180;
    x = cx_ + truncToInt(std::cos(theta) * radius);
    y = cy_ + truncToInt(std::sin(theta) * radius);
}

void DialGauge::drawFace(Surface& s, std::int16_t decimalLabels) const {
    const FixedScope fixed(s);
    const int d = right_ - left_;
    const int half = d / 2;

    s.setBrush(Brush{kDialFill, false});
    s.setPen(Pen{{0, 0, 0}, 2, PenStyle::Solid});
    s.ellipse(left_, top_, right_, bottom_);

    s.setBrush(kBlackBrush);
    const int hub = truncToInt(d * 0.05);
    s.ellipse(cx_ - hub, cy_ - hub, cx_ + hub, cy_ + hub);

    // Each arc runs counter-clockwise from the zone's upper boundary back to its lower one.
    const int sr = truncToInt(d * 0.47);
    for (int k = 1; k <= 3; ++k) {
        const double zlow = zone_[k - 1];
        const double zhigh = zone_[k];
        if (!(zlow < zhigh) || zhigh == 0) continue;
        s.setPen(kWhitePen);
        s.setPen(Pen{zoneColour_[k - 1], 5, PenStyle::Solid});
        const double ah = (330 - zhigh) * kPi / 180;
        const double al = (330 - zlow) * kPi / 180;
        const int xs = cx_ + truncToInt(std::sin(ah) * sr);
        const int ys = cy_ + truncToInt(std::cos(ah) * sr);
        const int xe = cx_ + truncToInt(std::sin(al) * sr);
        const int ye = cy_ + truncToInt(std::cos(al) * sr);
        s.arc(cx_ + sr, cy_ + sr, cx_ - sr, cy_ - sr, xs, ys, xe, ye);
    }

    s.setBackgroundColour(paletteColor(9));
    s.setTextAlign({HAlign::Centre, VAlign::Top});
    s.setTextColour(kInk);
    s.text(cx_, truncToInt(cy_ + 0.36 * d), units_);

    s.setPen(kBlackPen);

    const double labelRadius = 0.8 * half;
    for (int k = 0; k <= 10; ++k) {
        const double v = k == 0 ? min_ : k == 10 ? max_ : min_ + (max_ - min_) * k / 10;
        const std::string label = decimalLabels ? formatText("%.1f", v) : numberText(v, 0);
        const double theta = (120 + 30 * k) * kPi / 180;
        const int x = cx_ + truncToInt(std::cos(theta) * labelRadius);
        const int y = cy_ + truncToInt(std::sin(theta) * labelRadius) + kLabelPlaces[k].yAdjust;
        s.setTextAlign(kLabelPlaces[k].align);
        s.text(x, y, label);
    }

    const Pen tickPen{kInk, 1, PenStyle::Solid};
    int counter = 5;
    for (int deg = 0; deg <= 300; deg += 3) {
        const bool major = counter == 5;
        if (major) counter = 0;
        ++counter;
        int xi, yi, xo, yo;
        pointAt(deg, (major ? 0.82 : 0.89) * half, xi, yi);
        pointAt(deg, 0.95 * half, xo, yo);
        s.setPen(tickPen);
        s.moveTo(xi, yi);
        s.lineTo(xo, yo);
    }

    if (titleInside_) {
        s.setBackgroundColour(paletteColor(9));
        s.setTextColour(paletteColor(titleColour_));
        s.setTextAlign({HAlign::Centre, VAlign::Top});
        const int y1 = truncToInt(cy_ - 0.25 * d);
        s.text(cx_, y1, title1_);
        s.text(cx_, y1 + 16, title2_);
    } else {
        // A black box above the dial, outlined with the last tick pen, the title inside it in
        // the alignment the last label left (bottom-centre).
        s.rectangle(left_, top_ - 2, right_, top_ - 20);
        s.setBackgroundColour(paletteColor(10));
        s.setTextColour(paletteColor(titleColour_));
        s.text(cx_, top_ - 5, title1_);
    }

    s.setPen(kWhitePen);
}

void DialGauge::drawValue(double value, Surface& s, int decimals) const {
    const int d = right_ - left_;
    const int half = d / 2;

    s.setBackgroundColour(paletteColor(9));
    s.setTextColour(paletteColor(5));
    s.setTextAlign({HAlign::Centre, VAlign::Top});
    s.text(cx_, truncToInt(cy_ + 0.1 * d), numberText(value, decimals));

    double v = value;
    if (v > max_) v = max_;
    if (v < min_) v = min_;
    if (std::isnan(v)) v = min_;  // an undefined value rests the needle at the start
    const double a = mapLinear(min_, max_, 0, 300, v);

    s.setPen(Pen{paletteColor(10), 2, PenStyle::Solid});
    int x, y;
    pointAt(a, half * 0.97, x, y);
    s.moveTo(cx_, cy_);
    s.lineTo(x, y);
    s.setPen(kWhitePen);
}

}  // namespace kvx
