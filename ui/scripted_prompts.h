#pragma once
// Prompts for tests: every box and file dialog is recorded and answered from a plan (when the
// plan has run out, the default button as Enter would: Yes, No for YesNoDefaultNo, OK; a file
// dialog with no planned answer is cancelled). holdBox, when
// set, runs while a box is "open", so a test can let timers fire behind it.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/prompts.h"

namespace kvx::test {

struct RecordedBox {
    std::string text;
    std::string title;
    BoxIcon icon;
    BoxButtons buttons;
    bool owned;
};

struct RecordedFileDialog {
    bool save;
    FileDialogRequest request;
};

class ScriptedPrompts : public Prompts {
  public:
    int messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                   BoxButtons buttons, bool ownedByMainWindow) override {
        boxes.push_back({text, title, icon, buttons, ownedByMainWindow});
        if (holdBox) holdBox(boxes.back());
        if (!answers.empty()) {
            const int a = answers.front();
            answers.pop_front();
            return a;
        }
        switch (buttons) {
            case BoxButtons::YesNo:
                return kAnswerYes;
            case BoxButtons::YesNoDefaultNo:
                return kAnswerNo;
            case BoxButtons::Ok:
                break;
        }
        return kAnswerOk;
    }
    std::string openFileName(const FileDialogRequest& request) override {
        return fileDialog(false, request);
    }
    std::string saveFileName(const FileDialogRequest& request) override {
        return fileDialog(true, request);
    }
    // Several files when fileListAnswers holds an answer, else one from fileAnswers.
    std::vector<std::string> openFileNames(const FileDialogRequest& request) override {
        if (fileListAnswers.empty()) return Prompts::openFileNames(request);
        fileDialogs.push_back({false, request});
        std::vector<std::string> a = fileListAnswers.front();
        fileListAnswers.pop_front();
        return a;
    }
    int count(const std::string& text) const {
        int n = 0;
        for (const auto& b : boxes)
            n += b.text == text;
        return n;
    }

    std::vector<RecordedBox> boxes;
    std::deque<int> answers;
    std::function<void(const RecordedBox&)> holdBox;
    std::vector<RecordedFileDialog> fileDialogs;
    std::deque<std::string> fileAnswers;  // "" cancels
    std::deque<std::vector<std::string>> fileListAnswers;

  private:
    std::string fileDialog(bool save, const FileDialogRequest& request) {
        fileDialogs.push_back({save, request});
        if (fileAnswers.empty()) return {};
        std::string a = fileAnswers.front();
        fileAnswers.pop_front();
        return a;
    }
};

}  // namespace kvx::test
