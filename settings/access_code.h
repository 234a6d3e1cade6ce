#pragma once
// The access codes that open the guarded commands, and the texts of the boxes that answer them.
#include <string>
#include <string_view>

namespace kvx {

// The typed text is an access code (parseAccessCode) and one of the two that open.
bool accessCodeAccepted(std::string_view text);

inline constexpr const char* kPasswordTitle = "Required Information";
inline constexpr const char* kPasswordLabel = "Enter Password:";
inline constexpr int kPasswordEditId = 1022;
inline constexpr const char* kAssistanceTitle = "Assistance";
inline constexpr const char* kWarningTitle = "Warning";

// The information box after an accepted code and the warning after a wrong one.
std::string assistanceText();
std::string wrongPasswordText();

}  // namespace kvx
