#pragma once
// "Playback Dialog" (109): pick a day and a log file, then move through it with the trackbar
// and the five play buttons. The player lives in the main window; the dialog only holds the
// controls and timer 275, so closing it leaves the panel on the last record shown.
#include <QDialog>
#include <QElapsedTimer>
#include <QSlider>
#include <QTimer>
#include <functional>
#include <string>

#include "log/log_player.h"
#include "ui/prompts.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kvx {

// The trackbar: a slider that also marks the loaded chunk (its selection) along its top edge.
// Page Down and a click right of the handle page later into the file, Page Up and a click left
// of it earlier.
class ChunkSlider : public QSlider {
    Q_OBJECT
  public:
    // A minute of play at five records a second; an hour's file holds up to 18,000 records.
    static constexpr int kPageRecords = 300;

    explicit ChunkSlider(QWidget* parent = nullptr);
    void setSelection(int first, int last);
    int selectionStart() const { return selFirst_; }
    int selectionEnd() const { return selLast_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    int selFirst_ = 0;
    int selLast_ = -1;
};

class PlaybackDialog : public QDialog {
    Q_OBJECT
  public:
    // repaintPanel: the main window repaints its panel (after every position change).
    PlaybackDialog(LogPlayer& player, Prompts& prompts, std::string programDir,
                   std::function<void()> repaintPanel, QWidget* parent = nullptr);
    ~PlaybackDialog() override;

    QDateEdit* datePicker() const { return date_; }
    QLineEdit* fileBox() const { return file_; }
    ChunkSlider* trackbar() const { return slider_; }
    QTimer* timer() { return &timer_; }
    QLabel* statusLine() const { return status_; }
    // The file dialog's request as Open File builds it from the date picker's text.
    FileDialogRequest openFileRequest() const;

  public slots:
    void openFile();

  private:
    void listHours();
    void play(const std::string& path);
    QPushButton* addButton(const char* caption, int id);
    void userMoved(int value);
    void onTick();
    // Brings every control in line with the player and repaints the panel; result != LOG_OK
    // is reported in the status line.
    void sync(int result);
    // The trackbar's chunk marks and the position line.
    void showChunk();

    LogPlayer& player_;
    Prompts& prompts_;
    std::string programDir_;
    std::function<void()> repaintPanel_;
    QDateEdit* date_ = nullptr;
    QLineEdit* file_ = nullptr;
    QComboBox* hours_ = nullptr;
    ChunkSlider* slider_ = nullptr;
    QLabel* where_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* buttons_[5] = {};
    QTimer timer_;
    // Ticks come late under load, and a late tick delays the next: each tick takes the steps
    // due by this clock since the timer started, so >> keeps to its 200 records a second.
    QElapsedTimer playClock_;
    qint64 stepsTaken_ = 0;
    bool syncing_ = false;
};

}  // namespace kvx
