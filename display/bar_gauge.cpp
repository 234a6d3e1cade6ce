#include "display/bar_gauge.h"

#include <cmath>
#include <cstring>

#include "display/client_size.h"
#include "display/literal_text.h"
#include "display/number_text.h"
#include "display/palette.h"
#include "display/pixel_math.h"

namespace kvx {

namespace {
constexpr Rgb kTroughFill{230, 242, 242};
constexpr std::size_t kCaptionLimit = 24;
constexpr std::size_t kUnitsLimit = 14;
}  // namespace

bool BarGauge::setSizeFractions(std::int16_t widthPercent, std::int16_t heightPercent) {
    widthFraction_ = widthPercent / 100.0;
    heightFraction_ = heightPercent / 100.0;
    recompute();
    return true;
}

bool BarGauge::setPosition(std::int16_t leftPercent, std::int16_t topPercent) {
    leftFraction_ = leftPercent / 100.0;
    topFraction_ = topPercent / 100.0;
    recompute();
    return true;
}

bool BarGauge::setSize(ClientSize clientSize) {
    const int w = clientSize.width;
    const int h = clientSize.height;
    if (w == 0 || h == 0) return false;
    clientSize_ = clientSize;
    place(w, h);
    return true;
}

void BarGauge::recompute() {
    const int w = clientSize_.width;
    const int h = clientSize_.height;
    if (w == 0) return;
    // Whole multiples of 8 pixels keep the ten scale steps on exact pixels.
    widthFraction_ = truncToInt(w * widthFraction_ / 8) * 8.0 / w;
    place(w, h);
}

void BarGauge::place(int w, int h) {
    const long long left = truncToInt(w * leftFraction_);
    const long long top = truncToInt(h * topFraction_);
    left_ = saturate16(left);
    top_ = saturate16(top);
    right_ = saturate16(left + truncToInt(w * widthFraction_));
    bottom_ = saturate16(top + truncToInt(h * heightFraction_));
}

bool BarGauge::setTitle(const char* text) {
    if (text && std::strlen(text) <= kCaptionLimit) caption_ = literalText(text);
    return true;
}

bool BarGauge::setUnits(const char* text) {
    if (text && std::strlen(text) <= kUnitsLimit) units_ = literalText(text);
    return true;
}

bool BarGauge::setRange(double min, double max) {
    if (max > min) {
        min_ = min;
        max_ = max;
    }
    return true;
}

bool BarGauge::showScale(bool show) {
    showScale_ = show;
    return true;
}

bool BarGauge::setValueColour(std::int16_t colourIndex) {
    valueColour_ = colourIndex;
    return true;
}

bool BarGauge::setCaptionColour(std::int16_t colourIndex) {
    captionColour_ = colourIndex;
    return true;
}

bool BarGauge::setLimit(double value, int slot, std::int16_t colourIndex) {
    if (slot < 0 || slot >= kLimitSlots) return false;
    limit_[slot] = value;
    limitColour_[slot] = colourIndex;
    return true;
}

int BarGauge::xOf(double value) const {
    return truncToInt((value - min_) * ((right_ - left_) / (max_ - min_)) + left_);
}

void BarGauge::draw(double value, Surface& s, std::int16_t fillColourIndex, int decimals,
                    int decimalScale) const {
    double clamped = value;
    if (clamped > max_) clamped = max_;
    if (clamped < min_) clamped = min_;
    if (std::isnan(clamped)) clamped = min_;

    const int aw = s.textMetrics().averageWidth;
    // Scale, caption, units and trough stay from paint to paint; the value, the fill and the
    // limit lines over the fill do not.
    s.beginFixed();
    s.setTransparentBackground(true);
    const Rgb captionColour = paletteColor(captionColour_);
    s.setTextColour(captionColour);

    if (showScale_) {
        s.setPen(Pen{captionColour, 1, PenStyle::Solid});
        s.setTextAlign({HAlign::Centre, VAlign::Bottom});
        const int step = (right_ - left_) / 10;
        for (int i = 0; i <= 10; ++i) {
            const int x = left_ + i * step;
            s.moveTo(x, top_ - 2);
            s.lineTo(x, top_ - 6);
            const double v = mapLinear(0, 10, min_, max_, i);
            s.text(x, top_ - 6, decimalScale ? formatText("%.1f", v) : numberText(v, 0));
        }
    }

    s.setTextAlign({HAlign::Left, VAlign::Bottom});
    s.text(left_ - aw - 155, bottom_, caption_);
    s.endFixed();

    s.setTextColour(paletteColor(valueColour_));
    // NaN: no value is known; the bar stays empty.
    s.text(right_ + aw, bottom_,
           std::isnan(value) ? std::string("--") : numberText(value, decimals));

    s.beginFixed();
    s.setTextColour(captionColour);
    s.text(right_ + 8 * aw, bottom_, units_);

    s.setPen(kBlackPen);
    s.setBrush(Brush{kTroughFill, false});
    s.rectangle(left_, top_, right_, bottom_);
    s.endFixed();

    const Rgb fill = paletteColor(fillColourIndex);
    s.setPen(Pen{fill, 1, PenStyle::Solid});
    s.setBrush(Brush{fill, false});
    int end = xOf(clamped);
    if (end > right_) end = right_;
    // At or below the minimum there is nothing to fill; a box drawn backwards from the left
    // edge would paint over the trough's outline.
    if (end > left_ + 1) s.rectangle(left_ + 1, top_ + 1, end, bottom_ - 1);

    for (int i = 0; i < kLimitSlots; ++i) {
        if (!(limit_[i] > min_)) continue;
        const int x = xOf(limit_[i]);
        s.setPen(Pen{paletteColor(limitColour_[i]), 1, PenStyle::Solid});
        s.moveTo(x, top_ - 7);
        s.lineTo(x, bottom_ + 7);
    }

    s.setPen(kBlackPen);
    s.setBrush(kWhiteBrush);
}

}  // namespace kvx
