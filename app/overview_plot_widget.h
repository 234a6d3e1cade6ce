#pragma once
// The log overview's plot on the screen: the window draws the picture off-screen through
// QtSurface (what is drawn is the overview library's), this widget shows it and turns the mouse
// and the keys into a new span, a hovered column or a clicked column.
//
// Wheel: zoom around the pointer. Drag with the left button: zoom to the range dragged. A
// click (no drag): the column under the pointer. + and -: zoom around the middle; Left and
// Right: pan by a quarter; Home: everything.
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>

#include "app/overview_span.h"

namespace kvx {

class QtSurface;

class OverviewPlotWidget : public QWidget {
    Q_OBJECT
  public:
    // How far one wheel notch (or a key) zooms in.
    static constexpr double kZoomStep = 0.8;
    // A press and release closer than this many pixels is a click, not a drag.
    static constexpr int kDragThreshold = 4;
    static constexpr double kPanStep = 0.25;

    struct Hooks {
        // Draws the whole plot of span on the surface and returns the columns its time axis
        // runs over: [left, right).
        std::function<std::pair<int, int>(QtSurface&, OverviewSpan)> draw;
        std::function<void(OverviewSpan)> spanChanged;
        // The column under the pointer, or -1 when it left the plot.
        std::function<void(int column)> hovered;
        std::function<void(int column)> clicked;
    };

    explicit OverviewPlotWidget(Hooks hooks, QWidget* parent = nullptr);
    ~OverviewPlotWidget() override;

    // Limits of what is opened; the span shown becomes everything.
    void setLimits(const OverviewLimits& limits);
    const OverviewLimits& limits() const { return limits_; }
    OverviewSpan span() const { return span_; }
    void setSpan(OverviewSpan span);
    bool hasData() const { return limits_.all.width() > 0.0; }
    // Draws anew at the next paint (the strips, the summaries or the cursor changed).
    void redraw();
    // The columns of the time axis in the picture shown: [left, right).
    std::pair<int, int> axis();
    // The picture shown, drawn now if it is out of date.
    const QImage& picture();

    // What the input does, callable without events.
    void zoomAt(int column, double factor);
    void pan(double fraction);
    void showAll();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void changeSpan(OverviewSpan span);
    void render();
    void hover(int x);

    Hooks hooks_;
    OverviewLimits limits_;
    OverviewSpan span_;
    std::unique_ptr<QtSurface> surface_;
    QImage picture_;
    std::pair<int, int> axis_{0, 0};
    bool stale_ = true;
    int hoverX_ = -1;  // the column under the pointer, marked with a thin line
    int pressX_ = -1;  // where the left button went down, -1 when it is up
    int dragX_ = -1;   // where the drag has got to
    // A touchpad's wheel reports in small steps: they add up to notches.
    int wheelRest_ = 0;
};

}  // namespace kvx
