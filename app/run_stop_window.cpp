#include "app/run_stop_window.h"

#include <QCloseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "resources/resource_ids.h"

namespace kvx {

RunStopButton::RunStopButton(std::function<bool()> ready, QWidget* parent)
    : QAbstractButton(parent), ready_(std::move(ready)) {
    setObjectName(QString::number(res::kRunStopButton));
    setFocusPolicy(Qt::NoFocus);
}

QSize RunStopButton::sizeHint() const {
    return {RunStopWindow::kWidth, RunStopWindow::kHeight};
}

void RunStopButton::paintEvent(QPaintEvent*) {
    shownReady_ = ready_();
    QPainter p(this);
    p.fillRect(rect(), shownReady_ ? QColor(0, 255, 0) : QColor(255, 0, 0));
    QFont f = p.font();
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine,
               shownReady_ ? QStringLiteral("READY") : QStringLiteral("STOPPED"));
}

RunStopWindow::RunStopWindow(std::function<bool()> ready, std::function<void()> clicked,
                             QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint) {
    setObjectName(QString::number(res::kRunStopWindow));
    setAttribute(Qt::WA_ShowWithoutActivating);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(255, 0, 0));
    setPalette(pal);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);  // the thin border
    button_ = new RunStopButton(std::move(ready), this);
    layout->addWidget(button_);
    connect(button_, &QAbstractButton::clicked, this, [c = std::move(clicked)] { c(); });
    setFixedSize(kWidth, kHeight);
}

void RunStopWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    deleteLater();
}

}  // namespace kvx
