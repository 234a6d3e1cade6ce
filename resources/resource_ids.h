#pragma once
// The numeric ids of the program's menu, dialogs, controls and commands. Tests and the
// window dispatch by these numbers, so they never change.

namespace kvx::res {

// Menu and the main window's children.
inline constexpr int kMainMenu = 104;
inline constexpr int kStatusBar = 103;

// Dialogs.
inline constexpr int kCommPortDialog = 108;
inline constexpr int kPlaybackDialog = 109;
inline constexpr int kConnectingDialog = 110;
inline constexpr int kCalibrationDialog = 111;
inline constexpr int kPasswordDialog = 112;
inline constexpr int kUploadDialog = 115;
inline constexpr int kDownloadDialog = 116;
inline constexpr int kPressureScheduleDialog = 137;
inline constexpr int kSubstitutionDialog = 139;
inline constexpr int kVibrationDialog = 140;
inline constexpr int kTemperatureDialog = 141;
inline constexpr int kScalingDialog = 142;
inline constexpr int kVibrationMaxDialog = 143;
inline constexpr int kAlarmAckDialog = 144;
inline constexpr int kRunStopWindow = 146;
inline constexpr int kEmailDialog = 148;
inline constexpr int kFlowControlDialog = 149;
inline constexpr int kEventLogDialog = 151;
inline constexpr int kBrokerUnitDialog = 160;

// Controls.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kCommPortNumberEdit = 1001;
inline constexpr int kCommDeviceIdEdit = 1002;
inline constexpr int kConnectingProgress = 1003;
inline constexpr int kPlaybackTrackbar = 1008;
inline constexpr int kPlaybackDatePicker = 1009;
inline constexpr int kPlaybackFileEdit = 1010;
inline constexpr int kPlaybackOpenFile = 1011;
inline constexpr int kPlaybackPlay = 1026;
inline constexpr int kPlaybackFastReverse = 1027;
inline constexpr int kPlaybackPause = 1028;
inline constexpr int kPlaybackStop = 1029;
inline constexpr int kPlaybackFastForward = 1030;
inline constexpr int kSpeedMinimumEdit = 1051;
inline constexpr int kSpeedMaximumEdit = 1052;
inline constexpr int kRunStopButton = 1109;
inline constexpr int kBrokerUrlEdit = 1210;
inline constexpr int kBrokerUnitList = 1211;
inline constexpr int kBrokerListButton = 1212;

// Commands of menu 104.
inline constexpr int kCmdConnect = 40001;
inline constexpr int kCmdDisconnect = 40002;
inline constexpr int kCmdCommPort = 40006;
inline constexpr int kCmdCommPortProperties = 40007;
inline constexpr int kCmdReconnectAutomatically = 40100;
inline constexpr int kCmdOpenBrokerUnit = 40101;
inline constexpr int kCmdLogOverview = 40102;
inline constexpr int kCmdExit = 40009;
inline constexpr int kCmdLogEnable = 40013;
inline constexpr int kCmdLogDisable = 40014;
inline constexpr int kCmdPlayback = 40015;
inline constexpr int kCmdZoomIn = 40019;
inline constexpr int kCmdZoomOut = 40020;
inline constexpr int kCmdPressureSchedule = 40038;
inline constexpr int kCmdSubstitutionSchedule = 40039;
inline constexpr int kCmdTemperatureSettings = 40040;
inline constexpr int kCmdVibrationSettings = 40041;
inline constexpr int kCmdCalibrate = 40042;
inline constexpr int kCmdUploadSettings = 40044;
inline constexpr int kCmdDownloadSettings = 40045;
inline constexpr int kCmdScalingSettings = 40046;
inline constexpr int kCmdVibrationMaxSchedule = 40049;
inline constexpr int kCmdAlarmAcknowledgment = 40051;
inline constexpr int kCmdLeftBank = 40052;
inline constexpr int kCmdRightBank = 40053;
inline constexpr int kCmdEmailMessaging = 40054;
inline constexpr int kCmdFlowControl = 40055;
inline constexpr int kCmdEventLog = 40056;
inline constexpr int kCmdServiceReport = 40120;
inline constexpr int kCmdTraffic = 40121;

}  // namespace kvx::res
