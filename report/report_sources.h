#pragma once
// Where a service report's values come from: files alone (a settings file, a folder of logs, a
// backup, a text file) or a controller over a link. Every refusal is one line that names what
// was wrong.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "link/device_link.h"
#include "overview/overview_set.h"
#include "report/report_content.h"

namespace kvx {

// The technician's text file is refused above this size.
inline constexpr std::size_t kReportTextMaxBytes = 1024 * 1024;

// The visit's log files of folder whose hour lies in from..to (UTC seconds; 0 for no bound),
// summarised into set, with the first and last plausible record's times; the panel's moment is
// the record the overview's lookup gives for at (0: the last record). False with error naming
// the folder or file when there is nothing to report from: no such folder, no log files in it,
// none in the hours, or no record this program could have written in any of them. progress
// and cancel are the summaries' build's (OverviewSet::build); a cancelled build gives false
// with error "cancelled".
bool findVisitLogs(const std::string& folder, std::int64_t from, std::int64_t to, std::int64_t at,
                   OverviewSet& set, ReportLogs& logs, std::string& error,
                   const std::function<void(std::size_t done, std::size_t total)>& progress = {},
                   const std::atomic<bool>* cancel = nullptr);

// The settings file as the report's settings and identity (the file's header gives the serial
// number and firmware; its rows the product type and slave address).
bool readReportSettings(const std::string& path, ReportInputs& in, std::string& error);
// The backup to compare with.
bool readReportBackup(const std::string& path, ReportInputs& in, std::string& error);
// The technician's text (UTF-8), at most kReportTextMaxBytes.
bool readReportText(const std::string& path, std::string& text, std::string& error);

// The panel's values of the logged record logs.panelFile / panelRecord.
bool readLoggedPanel(ReportInputs& in, std::string& error);

// Reads the controller's identity, settings image, event log and one poll for the panel, as
// the settings screens and the poll cycle read them. 0, else the link's result with error
// naming the read that failed. ranges receives the instruments' ranges (what they come in with
// is kept where the controller does not give them: the speed scale of the viewer's scaling
// file), image and status the poll's.
int readControllerForReport(DeviceLink& link, int slave, ReportInputs& in, InputImage& image,
                            LiveStatus& status, DisplayRanges& ranges, std::string& error);

}  // namespace kvx
