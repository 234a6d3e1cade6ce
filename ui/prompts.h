#pragma once
// Message boxes and file dialogs, behind an interface so that tests can record every box and
// dialog and answer it.
#include <string>
#include <utility>
#include <vector>

namespace kvx {

enum class BoxIcon { None, Warning, Information, Question };
// YesNoDefaultNo: for a question whose Yes writes to the controller or saves there, so that
// Enter never does it.
enum class BoxButtons { Ok, YesNo, YesNoDefaultNo };

// Answers, numbered like the platform's.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// One entry of a file dialog's type list: the text shown and its wildcard pattern.
struct FileFilter {
    std::string name;     // "Log Files"
    std::string pattern;  // "*2014_5_24*.log"
};

struct FileDialogRequest {
    std::string title;  // empty: the platform's own ("Open", "Save As")
    std::vector<FileFilter> filters;
    std::string initialDir;
    std::string initialName;  // the file-name field's text on opening
    // A save dialog asks before a chosen file is replaced, unless the caller asks itself
    // (with No as the default, which not every platform dialog has).
    bool confirmOverwrite = true;
};

class Prompts {
  public:
    virtual ~Prompts() = default;
    // Modal; the main window's timers keep running while it is open. ownedByMainWindow: the
    // box belongs to the main window rather than standing alone.
    virtual int messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                           BoxButtons buttons, bool ownedByMainWindow) = 0;
    // Modal file choosers owned by the main window. The chosen path, or empty when cancelled.
    // The save dialog returns the path as typed: adding an extension is the caller's rule.
    virtual std::string openFileName(const FileDialogRequest& request) = 0;
    virtual std::string saveFileName(const FileDialogRequest& request) = 0;
    // An open dialog where several files may be chosen; none when cancelled. Where a
    // implementation has no such dialog, the one file of openFileName.
    virtual std::vector<std::string> openFileNames(const FileDialogRequest& request) {
        std::string one = openFileName(request);
        if (one.empty()) return {};
        return {std::move(one)};
    }
};

}  // namespace kvx
