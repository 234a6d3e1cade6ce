#pragma once
// The main window's client area: it only forwards paints and size changes, the window draws.
#include <QWidget>
#include <functional>

namespace kvx {

class PanelView : public QWidget {
    Q_OBJECT
  public:
    PanelView(std::function<void(QWidget&)> paint, std::function<void(int, int)> resized,
              QWidget* parent);

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

  private:
    std::function<void(QWidget&)> paint_;
    std::function<void(int, int)> resized_;
};

}  // namespace kvx
