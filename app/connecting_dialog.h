#pragma once
// "Establishing communication": a progress bar stepping every 10 ms while the connection
// sequence runs in the main window's timers, with Cancel and a give-up after 300 ticks.
#include <QDialog>
#include <QTimer>
#include <functional>

class QProgressBar;

namespace kvx {

class Prompts;

class ConnectingDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kTickMs = 10;
    static constexpr int kGiveUpTicks = 300;
    static constexpr int kResultCancel = 2;
    static constexpr int kResultClosed = 0;

    // tickCount lives as long as the program: a second dialog counts on from it. cancelled
    // runs at Cancel (the button or the give-up), at once: the give-up's box may stay open a
    // long time and the connection sequence must not go on reading behind it.
    ConnectingDialog(Prompts& prompts, int& tickCount, std::function<void()> cancelled,
                     QWidget* parent = nullptr);

    // Closed by the connection sequence, at its success or its failure.
    void closeBySequence();
    // The give-up without its box: the caller tells of the failure its own way.
    void setGiveUpQuietly(bool quietly) { giveUpQuietly_ = quietly; }
    // Ended by its own give-up rather than by Cancel or the sequence.
    bool gaveUp() const { return gaveUp_; }

  public slots:
    void reject() override;

  private:
    void tick();

    Prompts& prompts_;
    int& ticks_;
    std::function<void()> cancelled_;
    bool giveUpQuietly_ = false;
    bool gaveUp_ = false;
    QProgressBar* progress_ = nullptr;
    QTimer timer_;
};

}  // namespace kvx
