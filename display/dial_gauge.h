#pragma once
// The round instrument: light disc with a black rim, up to three zone arcs, eleven scale labels
// over a 300-degree sweep from 7 o'clock clockwise to 5 o'clock, 101 ticks, units, title,
// numeric read-out and needle.
#include <cstdint>
#include <string>

#include "display/client_size.h"
#include "display/surface.h"

namespace kvx {

class DialGauge {
  public:
    DialGauge() = default;
    virtual ~DialGauge() = default;

    // Centre as percent of the client width and height.
    bool setCentre(std::int16_t xPercent, std::int16_t yPercent);
    // Diameter = client width x percent / 200.
    bool setScale(std::int16_t percent);
    bool setSize(ClientSize clientSize);
    // Each line is kept only if shorter than 25 characters; flag and colour always.
    bool setTitles(const char* line1, const char* line2, bool titleInside,
                   std::int16_t colourIndex);
    // Kept only if at most 14 characters long.
    bool setUnits(const char* text);
    // Taken only if max > min.
    bool setRange(double min, double max);
    // Zones 1..3, converted to scale degrees with the range in force now.
    bool setZone(double from, double to, int zoneNumber, std::int16_t colourIndex);

    void drawFace(Surface& surface, std::int16_t decimalLabels) const;
    void drawValue(double value, Surface& surface, int decimals) const;

    // Where a scale degree lies at a radius, by the dial's own rounding.
    void pointAt(double scaleDegree, double radius, int& x, int& y) const;

    int cx() const { return cx_; }
    int cy() const { return cy_; }
    int left() const { return left_; }
    int right() const { return right_; }
    int top() const { return top_; }
    int bottom() const { return bottom_; }
    double rangeMin() const { return min_; }
    double rangeMax() const { return max_; }
    double zoneBoundary(int i) const { return zone_[i < 0 ? 0 : i > 3 ? 3 : i]; }
    const std::string& title1() const { return title1_; }
    const std::string& title2() const { return title2_; }
    const std::string& units() const { return units_; }
    bool titleInside() const { return titleInside_; }

  private:
    void recompute();

    bool titleInside_ = true;
    std::int16_t titleColour_ = 0;
    std::int16_t cx_ = 0, left_ = 0, right_ = 0;
    std::int16_t cy_ = 0, top_ = 0, bottom_ = 0;
    ClientSize clientSize_;
    double sizeFraction_ = 0.5;
    double centreX_ = 0.5, centreY_ = 0.5;
    double min_ = 0.0, max_ = 300.0;
    double zone_[4] = {0.0, 0.0, 0.0, 0.0};
    Rgb zoneColour_[3] = {{0, 130, 65}, {0, 130, 65}, {0, 130, 65}};
    std::string title1_ = "Gauge";
    std::string title2_ = "Gauge2";
    std::string units_ = "Units";
};

}  // namespace kvx
