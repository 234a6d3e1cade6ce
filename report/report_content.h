#pragma once
// What a service report says, without Qt: the controller's identity and the date, the panel's
// readings, the settings as the settings screens group them in engineering units (or, against
// a backup from before the visit, only what changed), the event log and the technician's text.
// The PDF writer (report_pdf.h) lays these out; the same content can be checked as data.
#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "model/live_data.h"
#include "settings/event_log.h"
#include "settings/settings_file.h"
#include "settings/settings_file_reader.h"

namespace kvx {

// A table: a row never splits across pages; the headings repeat on every page it spans.
struct ReportTable {
    std::string caption;                // above the table, may be empty
    std::vector<std::string> headings;  // one per column
    std::vector<int> weights;           // relative column widths, one per column
    std::vector<std::vector<std::string>> rows;
};

// Where a section's picture stands.
enum class ReportPicture { None, Panel, Overview };

struct ReportSection {
    std::string title;
    std::vector<std::string> paragraphs;  // before the picture and the tables
    ReportPicture picture = ReportPicture::None;
    std::vector<ReportTable> tables;
};

struct ServiceReport {
    std::string title;
    std::string footer;  // on every page, before "page i of n"
    std::vector<ReportSection> sections;
};

// The visit's logs: the hours looked at and the moment the panel shows.
struct ReportLogs {
    std::vector<std::string> files;  // in time order
    std::int64_t from = 0, to = 0;   // UTC seconds of the first and last record
    std::string panelFile;           // the file of the panel's moment; empty: the panel is live
    std::int64_t panelRecord = -1;
    std::int64_t panelTime = 0;  // UTC seconds of that record
};

struct ReportInputs {
    DeviceIdentity identity;  // version is the firmware x 100
    std::string source;       // where the values come from, for the identity section
    std::int64_t made = 0;    // UTC seconds
    SettingsImage settings{};
    std::optional<SettingsFileContents> before;  // the backup from before the visit
    std::string beforeName;
    std::optional<EventWords> events;  // absent offline: the controller holds the log
    // The panel's readings: live, or of the logged record at logs.panelFile.
    std::optional<LiveData> panel;
    int selectedBank = 1;
    ReportLogs logs;
    std::string text;  // the technician's, any length; line ends kept
};

// "2026-12-08 14:05" in local time.
std::string reportTime(std::int64_t utcSeconds, bool seconds = false);

// The sections in order: identity, panel, settings or changes, event log, overview, notes.
ServiceReport buildServiceReport(const ReportInputs& in);

// The settings as the settings screens group and show them: one table per screen, in
// engineering units, for the firmware's registers (those its reads do not fill say so).
std::vector<ReportTable> settingsTables(const SettingsImage& image, int firmware);

// The backup against the settings now: the changed registers with old and new values side by
// side, in engineering units where a screen shows them. Empty rows when nothing changed.
// False with why set when the backup cannot be compared (another firmware version).
bool changesTable(const SettingsImage& now, int firmware, const SettingsFileContents& before,
                  ReportTable& table, std::string& why);

// The panel's readings with their units, as the panel shows them for the bank.
ReportTable panelTable(const LiveData& live, int selectedBank, int indicatorType);

// The event log's ten rows.
ReportTable eventTable(const EventWords& words);

// The technician's text as paragraphs: one per line, tabs as spaces, control characters
// dropped, so that nothing unprintable reaches the page.
std::vector<std::string> freeTextParagraphs(const std::string& text);

}  // namespace kvx
