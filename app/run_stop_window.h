#pragma once
// The small run/stop window beside the panel: one owner-drawn button, green "READY" or red
// "STOPPED", that toggles the controller's emergency stop.
#include <QAbstractButton>
#include <QWidget>
#include <functional>

namespace kvx {

class RunStopButton : public QAbstractButton {
    Q_OBJECT
  public:
    RunStopButton(std::function<bool()> ready, QWidget* parent);
    // The state drawn last, for tests: true READY, false STOPPED.
    bool shownReady() const { return shownReady_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    std::function<bool()> ready_;
    bool shownReady_ = false;
};

class RunStopWindow : public QWidget {
    Q_OBJECT
  public:
    // 42 x 17 dialog units of the dialog font.
    static constexpr int kWidth = 63;
    static constexpr int kHeight = 28;

    RunStopWindow(std::function<bool()> ready, std::function<void()> clicked, QWidget* owner);
    RunStopButton* button() const { return button_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    RunStopButton* button_ = nullptr;
};

}  // namespace kvx
