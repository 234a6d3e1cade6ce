#pragma once
// A horizontal bar: caption on the left, value and units on the right, an optional scale above
// and up to four limit markers.
#include <cstdint>
#include <string>

#include "display/client_size.h"
#include "display/surface.h"

namespace kvx {

class BarGauge {
  public:
    static constexpr int kLimitSlots = 4;

    BarGauge() = default;
    virtual ~BarGauge() = default;

    // Both recompute from the stored client size, snapping the bar width to 8 pixels.
    bool setSizeFractions(std::int16_t widthPercent, std::int16_t heightPercent);
    bool setPosition(std::int16_t leftPercent, std::int16_t topPercent);
    // False, and nothing changes, when the width or the height is 0.
    bool setSize(ClientSize clientSize);
    // Kept only if at most 24 characters long.
    bool setTitle(const char* text);
    // Kept only if at most 14 characters long.
    bool setUnits(const char* text);
    // Taken only if max > min.
    bool setRange(double min, double max);
    bool showScale(bool show);
    bool setValueColour(std::int16_t colourIndex);
    bool setCaptionColour(std::int16_t colourIndex);
    // Slot 0..3; any other slot is refused.
    bool setLimit(double value, int slot, std::int16_t colourIndex);

    // decimalScale nonzero prints the scale numbers with one decimal. A NaN value (nothing known)
    // draws an empty bar and "--".
    void draw(double value, Surface& surface, std::int16_t fillColourIndex, int decimals,
              int decimalScale) const;

    int left() const { return left_; }
    int right() const { return right_; }
    int top() const { return top_; }
    int bottom() const { return bottom_; }
    double rangeMin() const { return min_; }
    double rangeMax() const { return max_; }
    const std::string& caption() const { return caption_; }
    const std::string& units() const { return units_; }
    // Pixel column of a value on the bar (not clamped).
    int xOf(double value) const;

  private:
    void recompute();
    void place(int w, int h);

    std::int16_t left_ = 0, right_ = 0, top_ = 0, bottom_ = 0;
    bool showScale_ = true;
    std::int16_t limitColour_[kLimitSlots] = {0, 0, 0, 0};
    std::int16_t valueColour_ = 10;
    std::int16_t captionColour_ = 10;
    ClientSize clientSize_;
    double limit_[kLimitSlots] = {0.0, 0.0, 0.0, 0.0};
    double widthFraction_ = 0.5, heightFraction_ = 0.5;
    double leftFraction_ = 0.5, topFraction_ = 0.5;
    double min_ = 0.0, max_ = 1000.0;
    std::string caption_ = "Bar";
    std::string units_ = "Units";
};

}  // namespace kvx
