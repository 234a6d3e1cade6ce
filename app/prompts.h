#pragma once
// Message boxes, behind an interface so that tests can record every box and answer it.
#include <string>

namespace kvx {

enum class BoxIcon { None, Warning, Information, Question };
enum class BoxButtons { Ok, YesNo };

// Answers, numbered like the platform's.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

class Prompts {
  public:
    virtual ~Prompts() = default;
    // Modal; the main window's timers keep running while it is open. ownedByMainWindow: the
    // box belongs to the main window rather than standing alone.
    virtual int messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                           BoxButtons buttons, bool ownedByMainWindow) = 0;
};

}  // namespace kvx
