#include "app/panel_view.h"

#include <QPaintEvent>
#include <QResizeEvent>

namespace kvx {

PanelView::PanelView(std::function<void(QWidget&, const QRegion&)> paint,
                     std::function<void(int, int)> resized, QWidget* parent)
    : QWidget(parent), paint_(std::move(paint)), resized_(std::move(resized)) {
    setObjectName(QStringLiteral("panel"));
    // Every paint covers the whole area from an off-screen picture.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void PanelView::paintEvent(QPaintEvent* event) {
    paint_(*this, event->region());
}

void PanelView::resizeEvent(QResizeEvent* event) {
    resized_(event->size().width(), event->size().height());
}

}  // namespace kvx
