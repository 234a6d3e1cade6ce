#pragma once
// Upload Data (115): choose a file (Create File, 1), write the settings read on opening into it
// (Upload Settings, 3) as often as wanted, Close (2).
#include <QDialog>
#include <string>

#include "settings/settings_file.h"
#include "ui/prompts.h"

class QLabel;
class QLineEdit;

namespace kvx {

inline constexpr const char* kUploadTitle = "Upload Data";
inline constexpr int kUploadPathId = 1033;

class UploadDialog : public QDialog {
    Q_OBJECT
  public:
    UploadDialog(const SettingsImage& image, int firmware, Prompts& prompts, std::string programDir,
                 QWidget* parent = nullptr);

    QString path() const;
    QString statusText() const;

  private:
    void createFile();
    void upload();

    const SettingsImage& image_;
    int firmware_;
    Prompts& prompts_;
    std::string programDir_;
    QLineEdit* path_ = nullptr;
    QLabel* status_ = nullptr;
};

// The save dialog the Create File button asks for.
FileDialogRequest settingsFileRequest(const std::string& programDir);

}  // namespace kvx
