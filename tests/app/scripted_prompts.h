#pragma once
// Message boxes for tests: every box is recorded, and answered from a plan (Yes/OK when the
// plan has run out).
#include <deque>
#include <string>
#include <vector>

#include "app/prompts.h"

namespace kvx::test {

struct RecordedBox {
    std::string text;
    std::string title;
    BoxIcon icon;
    BoxButtons buttons;
    bool owned;
};

class ScriptedPrompts : public Prompts {
  public:
    int messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                   BoxButtons buttons, bool ownedByMainWindow) override {
        boxes.push_back({text, title, icon, buttons, ownedByMainWindow});
        if (!answers.empty()) {
            const int a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == BoxButtons::YesNo ? kAnswerYes : kAnswerOk;
    }
    int count(const std::string& text) const {
        int n = 0;
        for (const auto& b : boxes)
            n += b.text == text;
        return n;
    }

    std::vector<RecordedBox> boxes;
    std::deque<int> answers;
};

}  // namespace kvx::test
