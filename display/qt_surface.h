#pragma once
// The Surface over QPainter on an off-screen QImage: what the window copies to the screen in
// one call, and what snapshots are saved from. A QGuiApplication must exist before the first
// QtSurface is made (fonts need it).
#include <memory>
#include <string>

#include "display/surface.h"

class QImage;

namespace kvx {

class QtSurface : public Surface {
  public:
    QtSurface(int width, int height);
    ~QtSurface() override;
    QtSurface(const QtSurface&) = delete;
    QtSurface& operator=(const QtSurface&) = delete;

    void setPen(const Pen& pen) override;
    void setBrush(const Brush& brush) override;
    void setTextColour(Rgb colour) override;
    void setTextAlign(TextAlign align) override;
    void setTransparentBackground(bool transparent) override;
    void setBackgroundColour(Rgb colour) override;
    void selectFont(FontChoice font) override;
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

    // Back to a fresh surface's drawing state; the picture is kept. A window that repaints
    // the whole area can then keep one surface, image and fonts, from paint to paint.
    void reset();

    int width() const;
    int height() const;
    // The smallest lettering the surface sets, in pixels: a picture that must show no text under
    // N points on paper is printed at this / N pixels per point or fewer.
    static int smallestTextSize();
    TextMetrics metricsOf(FontChoice font) const;
    // The advance width text() gives this text in a font.
    int textWidth(FontChoice font, std::string_view text) const;
    // Copies the pixels of from's picture inside (left, top)..(right, bottom) exclusive, clipped
    // to both pictures, into the same place of this one.
    void copyRegion(const QtSurface& from, int left, int top, int right, int bottom);
    // Copies from from's picture the pixels of straight lines joining the vertices in turn,
    // ends included: what a thin solid polyline through them may have painted.
    void copyAlong(const QtSurface& from, const Vertex* vertices, std::size_t count);
    // The picture so far; drawing continues to work afterwards.
    const QImage& image();
    Rgb pixel(int x, int y);
    // False when the file cannot be written.
    bool savePng(const std::string& path);

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace kvx
