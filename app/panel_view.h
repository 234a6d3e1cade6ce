#pragma once
// The main window's client area: it only forwards paints (with the area to paint) and size
// changes, the window draws.
#include <QWidget>
#include <functional>

namespace kvx {

class PanelView : public QWidget {
    Q_OBJECT
  public:
    PanelView(std::function<void(QWidget&, const QRegion&)> paint,
              std::function<void(int, int)> resized, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

  private:
    std::function<void(QWidget&, const QRegion&)> paint_;
    std::function<void(int, int)> resized_;
};

}  // namespace kvx
