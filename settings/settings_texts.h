#pragma once
// The settings screens' own texts, shared by the screens and the commands that open them.

namespace kvx::settings_text {

inline constexpr const char* kUpdated = "Valve settings are successfully updated!";
inline constexpr const char* kUpdateFailed = "Failed to update the settings.";
inline constexpr const char* kCommTimeout = "Communication time-out!";
inline constexpr const char* kSaveFailed = "Failed to save new settings.";
inline constexpr const char* kPressureIndicatorFailed = "Failed to indicator type.";
inline constexpr const char* kIndicatorFailed = "Failed to read indicator type.";

inline constexpr const char* kReadSystemFailed = "Failed to read system settings.";
inline constexpr const char* kReadValveFailed = "Failed to read valve settings.";
inline constexpr const char* kCalibrateCheckFailed = "Dedoda Dorive is not connected to Dravo.";
inline constexpr const char* kNotConnected = "Dravo Viewer is not connected to the system.";
inline constexpr const char* kCommTimeoutBox = "Communication Time-out.";
inline constexpr const char* kFeatureNotSupported = "Feature is not supported.";
inline constexpr const char* kFlowNotSupported = "Flow control is not supported.";
inline constexpr const char* kNotice = "Notice";
inline constexpr const char* kCalibrateSaveFailed = "Failed to save system settings!";
inline constexpr const char* kUnableToRead = "Unable to read data.";

inline constexpr const char* kUploaded = "Valve settings have been successfully uploaded.";
inline constexpr const char* kSelectFile = "Please select existing file or create a new one.";
// Not the controller's wording: its own program never noticed a failed file.
inline constexpr const char* kUploadWriteFailed = "Failed to write the settings file.";

inline constexpr const char* kAckWriteFailed = "Failed to write! Try again.";
inline constexpr const char* kAckPrompt = "Press OK button to Aknowledge and Reset the Alarm!";

// Flow control: what the status line says when a field could not be written safely.
inline constexpr const char* kUnreadNotWritten =
    "Fields not read from the controller were not written (type a value to write one).";

}  // namespace kvx::settings_text
