#pragma once
// Download Settings (116): the controller beside a settings file of the same firmware. Every
// register a restore may write and that differs is a row with a check box (all checked but
// modbus_address, which is written only when checked, and the sensor calibration of a file
// from another controller, which belongs to that unit); the registers never restored are
// listed apart. Write (1) writes the checked rows' file values, reads them back and, when every
// one holds its value, asks whether to send the save command (No unless the user picks Yes);
// Close (2, the default button) ends the dialog.
#include <QDialog>
#include <string>

#include "link/device_link.h"
#include "settings/settings_context.h"
#include "settings/settings_restore.h"
#include "ui/prompts.h"

class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

namespace kvx {

inline constexpr const char* kRestoreTitle = "Download Settings";
inline constexpr int kRestoreListId = 1201;    // the differences, one check box a row
inline constexpr int kRestoreApartId = 1202;   // the differences never written
inline constexpr int kRestoreSerialId = 1203;  // the serial numbers' note, bold when they differ
inline constexpr int kRestoreWriteId = 1;

class RestoreDialog : public QDialog {
    Q_OBJECT
  public:
    // The context's slave address follows a written modbus_address, as every later
    // transaction must; toFollow() reports it.
    RestoreDialog(const SettingsComparison& comparison, const std::string& filePath,
                  SettingsContext context, Prompts& prompts, QWidget* parent = nullptr);

    // Whether the difference of row i is checked.
    bool checked(int row) const;
    void setChecked(int row, bool on);
    int rowCount() const;
    QString statusText() const;
    // What the last Write did; empty before one.
    const RestoreOutcome& outcome() const { return outcome_; }
    // Whether the save command went through after the writes.
    bool saved() const { return saved_; }
    // What the window follows: the address the controller answers to after a Write.
    const SettingsOutcome& toFollow() const { return toFollow_; }

  private:
    // What the differences call for in the notes under them.
    struct DifferenceNotes {
        bool address = false;             // modbus_address is among them
        bool foreignCalibration = false;  // calibration rows from another controller
    };
    // The parts of the dialog, top down.
    void addIdentities(QVBoxLayout* layout, const std::string& filePath);
    DifferenceNotes addDifferences(QVBoxLayout* layout);
    void addDifferenceNotes(QVBoxLayout* layout, const DifferenceNotes& notes);
    void addSetApart(QVBoxLayout* layout);
    void write();

    const SettingsComparison& comparison_;
    SettingsContext ctx_;
    Prompts& prompts_;
    QTableWidget* list_ = nullptr;
    QPlainTextEdit* status_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    RestoreOutcome outcome_;
    SettingsOutcome toFollow_;
    bool wrote_ = false;
    bool saved_ = false;
};

// The open dialog that chooses the file.
FileDialogRequest restoreFileRequest(const std::string& programDir);
// The question asked after a complete restore (never after one that stopped short).
std::string restoreSaveQuestion();

}  // namespace kvx
