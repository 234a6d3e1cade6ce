#include "app/overview_plot_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "display/qt_surface.h"

namespace kvx {

OverviewPlotWidget::OverviewPlotWidget(Hooks hooks, QWidget* parent)
    : QWidget(parent), hooks_(std::move(hooks)) {
    setObjectName(QStringLiteral("overviewPlot"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(360, 240);
}

OverviewPlotWidget::~OverviewPlotWidget() = default;

void OverviewPlotWidget::setLimits(const OverviewLimits& limits) {
    limits_ = limits;
    span_ = limits.all;
    redraw();
    if (hooks_.spanChanged) hooks_.spanChanged(span_);
}

void OverviewPlotWidget::setSpan(OverviewSpan span) {
    changeSpan(span);
}

void OverviewPlotWidget::redraw() {
    stale_ = true;
    update();
}

std::pair<int, int> OverviewPlotWidget::axis() {
    if (stale_ || picture_.size() != size()) render();
    return axis_;
}

const QImage& OverviewPlotWidget::picture() {
    if (stale_ || picture_.size() != size()) render();
    return picture_;
}

void OverviewPlotWidget::changeSpan(OverviewSpan span) {
    if (!hasData()) return;
    span = fitSpan(span, limits_);
    if (span == span_) return;
    span_ = span;
    redraw();
    if (hooks_.spanChanged) hooks_.spanChanged(span_);
}

void OverviewPlotWidget::zoomAt(int column, double factor) {
    if (!hasData()) return;
    const auto [left, right] = axis();
    const double anchor = timeAtColumn(span_, left, right, std::clamp(column, left, right - 1));
    changeSpan(zoomSpan(span_, anchor, factor, limits_));
}

void OverviewPlotWidget::pan(double fraction) {
    if (!hasData()) return;
    changeSpan(panSpan(span_, fraction, limits_));
}

void OverviewPlotWidget::showAll() {
    changeSpan(limits_.all);
}

void OverviewPlotWidget::render() {
    const int w = std::max(1, width()), h = std::max(1, height());
    if (!surface_ || surface_->width() != w || surface_->height() != h)
        surface_ = std::make_unique<QtSurface>(w, h);
    else
        surface_->reset();
    if (hooks_.draw) {
        axis_ = hooks_.draw(*surface_, span_);
    } else {
        surface_->fillRect(0, 0, w, h, Rgb{255, 255, 255});
        axis_ = {0, w};
    }
    picture_ = surface_->image();
    stale_ = false;
}

void OverviewPlotWidget::paintEvent(QPaintEvent*) {
    const QImage& image = picture();
    QPainter p(this);
    p.drawImage(QPoint(0, 0), image);
    if (hoverX_ >= 0 && pressX_ < 0) {
        p.setPen(QPen(QColor(90, 90, 90, 160), 1, Qt::DotLine));
        p.drawLine(hoverX_, 0, hoverX_, height());
    }
    if (pressX_ >= 0 && dragX_ >= 0 && std::abs(dragX_ - pressX_) >= kDragThreshold) {
        const int x0 = std::min(pressX_, dragX_), x1 = std::max(pressX_, dragX_);
        const QRect band(x0, 0, x1 - x0 + 1, height());
        p.fillRect(band, QColor(40, 100, 220, 50));
        p.setPen(QColor(40, 100, 220));
        p.drawRect(band.adjusted(0, 0, -1, -1));
    }
}

void OverviewPlotWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    stale_ = true;
}

void OverviewPlotWidget::wheelEvent(QWheelEvent* event) {
    wheelRest_ += event->angleDelta().y();
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    if (notches != 0) {
        double factor = 1.0;
        for (int i = 0; i < std::abs(notches); ++i)
            factor *= notches > 0 ? kZoomStep : 1.0 / kZoomStep;
        zoomAt(static_cast<int>(event->position().x()), factor);
        hover(static_cast<int>(event->position().x()));
    }
    event->accept();
}

void OverviewPlotWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    pressX_ = dragX_ = static_cast<int>(event->position().x());
    event->accept();
}

void OverviewPlotWidget::mouseMoveEvent(QMouseEvent* event) {
    const int x = static_cast<int>(event->position().x());
    if (pressX_ >= 0) dragX_ = x;
    hover(x);
}

void OverviewPlotWidget::hover(int x) {
    const auto [left, right] = axis();
    const int column = hasData() && x >= left && x < right ? x : -1;
    if (column != hoverX_ || pressX_ >= 0) update();
    hoverX_ = column;
    if (hooks_.hovered) hooks_.hovered(column);
}

void OverviewPlotWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || pressX_ < 0) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const int x = static_cast<int>(event->position().x());
    const int from = pressX_;
    pressX_ = dragX_ = -1;
    update();
    event->accept();
    if (!hasData()) return;
    const auto [left, right] = axis();
    if (std::abs(x - from) >= kDragThreshold) {
        changeSpan(spanBetween(span_, left, right, from, x, limits_));
    } else if (x >= left && x < right && hooks_.clicked) {
        hooks_.clicked(x);
    }
}

void OverviewPlotWidget::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (hoverX_ >= 0) update();
    hoverX_ = -1;
    if (hooks_.hovered) hooks_.hovered(-1);
}

void OverviewPlotWidget::keyPressEvent(QKeyEvent* event) {
    const auto [left, right] = axis();
    const int middle = (left + right) / 2;
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:  // the + key without Shift on many keyboards
            zoomAt(middle, kZoomStep);
            break;
        case Qt::Key_Minus:
        case Qt::Key_Underscore:
            zoomAt(middle, 1.0 / kZoomStep);
            break;
        case Qt::Key_Left:
            pan(-kPanStep);
            break;
        case Qt::Key_Right:
            pan(kPanStep);
            break;
        case Qt::Key_Home:
            showAll();
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

}  // namespace kvx
