#include "report/report_content.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "model/alarm_text.h"
#include "model/display_values.h"
#include "model/registers.h"
#include "model/setting_registers.h"
#include "settings/alarm_screens.h"
#include "settings/flow_control_screen.h"
#include "settings/screen_table.h"
#include "settings/settings_restore.h"

namespace kvx {
namespace {

constexpr const char* kNotRead = "not read on this firmware";

std::string versionText(int firmware) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", firmware / 100, firmware % 100);
    return text;
}

std::string unsignedText(std::int16_t raw) {
    return std::to_string(static_cast<std::uint16_t>(raw));
}

// The screen titles as the dialogs show them.
std::string screenTitle(SettingsScreen screen) {
    for (const ScreenTable* table : registerScreens())
        if (table->screen == screen) return table->title;
    if (screen == SettingsScreen::FlowControl) return kFlowControlTitle;
    if (screen == SettingsScreen::AlarmEmail) return kEmailTitle;
    return {};
}

// A field's label on one line; the e-mail toggles carry theirs on their buttons.
std::string fieldLabel(const SettingRegister& r) {
    std::string label = r.label;
    if (label.empty()) {
        for (const EmailToggle& t : kEmailToggles)
            if (t.reference == r.reference) label = t.label;
    }
    if (label.empty()) label = r.name;
    std::replace(label.begin(), label.end(), '\n', ' ');
    while (!label.empty() && label.back() == ' ')
        label.pop_back();
    return label;
}

std::string withUnit(std::string column, std::string_view unit) {
    if (!unit.empty()) column += " (" + std::string(unit) + ")";
    return column;
}

constexpr SettingsScreen kScreens[] = {
    SettingsScreen::FuelPressureSchedule, SettingsScreen::SubstitutionSchedule,
    SettingsScreen::ExhaustTemperature,   SettingsScreen::VibrationSensor,
    SettingsScreen::VibrationSchedule,    SettingsScreen::FlowControl,
    SettingsScreen::AlarmEmail,
};

// Registers some screen shows with a rule of its own.
std::set<int> shownOnScreens() {
    std::set<int> shown;
    for (const SettingRegister& r : settingRegisters())
        if (r.shown != ShowRule::AsRead) shown.insert(r.reference);
    return shown;
}

}  // namespace

std::string reportTime(std::int64_t utcSeconds, bool seconds) {
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::to_string(utcSeconds);
    char text[32];
    std::strftime(text, sizeof text, seconds ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d %H:%M", &tm);
    return text;
}

std::vector<ReportTable> settingsTables(const SettingsImage& image, int firmware) {
    const int covered = settingsImageCovered(firmware);
    const int indicatorType = image[ref::indicator_type - 1];
    const auto shown = [&](const SettingRegister& r) -> std::string {
        if (r.reference > covered) return kNotRead;
        return showSetting(r, image[static_cast<std::size_t>(r.reference - 1)]);
    };
    std::vector<ReportTable> tables;
    for (SettingsScreen screen : kScreens) {
        std::vector<const SettingRegister*> rows;
        for (const SettingRegister& r : settingRegisters(screen))
            if (r.shown != ShowRule::AsRead) rows.push_back(&r);
        if (rows.empty()) continue;
        // The screen's single fields, then its schedule: one row per point, one column per
        // quantity, as the screen's table stands.
        std::vector<const SettingRegister*> fields, points;
        for (const SettingRegister* r : rows)
            (*r->column ? points : fields).push_back(r);
        if (!fields.empty()) {
            ReportTable table;
            table.caption = screenTitle(screen);
            table.headings = {"Setting", "Value", "Unit"};
            table.weights = {5, 3, 2};
            for (const SettingRegister* r : fields)
                table.rows.push_back(
                    {fieldLabel(*r), shown(*r), std::string(settingUnit(*r, indicatorType))});
            tables.push_back(std::move(table));
        }
        if (!points.empty()) {
            ReportTable table;
            table.caption = screenTitle(screen);
            std::vector<std::string> columns, labels;
            std::map<std::pair<std::string, std::string>, std::string> cells;
            for (const SettingRegister* r : points) {
                const std::string column = withUnit(r->column, settingUnit(*r, indicatorType));
                if (std::find(columns.begin(), columns.end(), column) == columns.end())
                    columns.push_back(column);
                const std::string point = fieldLabel(*r);
                if (std::find(labels.begin(), labels.end(), point) == labels.end())
                    labels.push_back(point);
                cells[{point, column}] = shown(*r);
            }
            table.headings.push_back("Point");
            table.weights.push_back(2);
            for (const std::string& c : columns) {
                table.headings.push_back(c);
                table.weights.push_back(3);
            }
            for (const std::string& p : labels) {
                std::vector<std::string> row{p};
                for (const std::string& c : columns) {
                    const auto it = cells.find({p, c});
                    row.push_back(it == cells.end() ? "" : it->second);
                }
                table.rows.push_back(std::move(row));
            }
            tables.push_back(std::move(table));
        }
    }
    // What no screen shows, as stored: calibration, counters, the controller's own records.
    const std::set<int> onScreens = shownOnScreens();
    ReportTable other;
    other.caption = "Other registers (as stored)";
    other.headings = {"Register", "Name", "Value"};
    other.weights = {2, 6, 3};
    for (int reference = 1; reference <= settingsFileRows(firmware); ++reference) {
        if (onScreens.count(reference)) continue;
        other.rows.push_back({std::to_string(reference), std::string(parameterName(reference)),
                              reference > covered
                                  ? kNotRead
                                  : unsignedText(image[static_cast<std::size_t>(reference - 1)])});
    }
    if (!other.rows.empty()) tables.push_back(std::move(other));
    return tables;
}

bool changesTable(const SettingsImage& now, int firmware, const SettingsFileContents& before,
                  ReportTable& table, std::string& why) {
    const SettingsComparison c = compareSettings(now, firmware, before);
    if (!c.sameFirmware()) {
        why = "the backup is of firmware " + versionText(before.firmware) +
              ", the controller's is " + versionText(firmware) +
              ": its rows are other registers, so it cannot be compared";
        return false;
    }
    std::vector<const SettingsDifference*> all;
    for (const SettingsDifference& d : c.differences)
        all.push_back(&d);
    for (const SettingsDifference& d : c.setApart)
        all.push_back(&d);
    std::sort(all.begin(), all.end(),
              [](const auto* a, const auto* b) { return a->reference < b->reference; });
    table = ReportTable{};
    table.caption = "Changed since the backup";
    table.headings = {"Register", "Name", "Before", "Now"};
    table.weights = {2, 6, 3, 3};
    for (const SettingsDifference* d : all) {
        table.rows.push_back(
            {std::to_string(d->reference), d->name,
             d->fileShown.empty() ? std::to_string(d->file) : d->fileShown,
             d->controllerShown.empty() ? std::to_string(d->controller) : d->controllerShown});
    }
    return true;
}

ReportTable panelTable(const LiveData& live, int selectedBank, int indicatorType) {
    ReportTable table;
    table.headings = {"Reading", "Value", "Unit"};
    table.weights = {5, 3, 2};
    char text[32];
    for (const PanelReading& r : panelReadings(live, selectedBank, indicatorType)) {
        // As many decimals as the register carries: a vibration of 0.007 in/s is not 0.01.
        std::snprintf(text, sizeof text, "%.*f", r.decimals, r.value);
        table.rows.push_back({r.label, text, r.unit});
    }
    table.rows.push_back({"Mode (" + std::string(selectedBank == 1 ? "left" : "right") + " bank)",
                          modeText(selectedBank == 1 ? live.mode_left : live.mode_right), ""});
    return table;
}

ReportTable eventTable(const EventWords& words) {
    ReportTable table;
    table.headings = {"#", "Date", "Time", "Event"};
    table.weights = {1, 3, 3, 10};
    int n = 0;
    for (const EventRow& row : eventLogRows(words))
        table.rows.push_back(
            {std::to_string(++n), row.date, row.time, row.event.empty() ? "(none)" : row.event});
    return table;
}

std::vector<std::string> freeTextParagraphs(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    for (const char c : text) {
        if (c == '\n') {
            out.push_back(std::move(line));
            line.clear();
        } else if (c == '\t') {
            line += "    ";
        } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) {
            line += c;  // UTF-8 bytes pass; the writer decodes them
        }
    }
    if (!line.empty()) out.push_back(std::move(line));
    while (!out.empty() && out.back().empty())
        out.pop_back();
    return out;
}

ServiceReport buildServiceReport(const ReportInputs& in) {
    ServiceReport report;
    const int firmware = in.identity.version;
    const int serial = static_cast<std::uint16_t>(in.identity.serial_number);
    report.title = "Service Report";
    report.footer = "KVX serial " + std::to_string(serial) + ", " + reportTime(in.made);

    ReportSection identity;
    identity.title = "Controller";
    ReportTable id;
    id.headings = {"Item", "Value"};
    id.weights = {2, 5};
    id.rows = {
        {"Product type", std::to_string(in.identity.product_type)},
        {"Firmware version", versionText(firmware)},
        {"Serial number", std::to_string(serial)},
        {"Slave address", std::to_string(in.identity.modbus_address)},
        {"Report date", reportTime(in.made)},
        {"Read from", in.source},
    };
    if (!in.logs.files.empty())
        id.rows.push_back(
            {"Visit's logs", reportTime(in.logs.from) + " to " + reportTime(in.logs.to) + " (" +
                                 std::to_string(in.logs.files.size()) + " hourly files)"});
    identity.tables.push_back(std::move(id));
    report.sections.push_back(std::move(identity));

    ReportSection panel;
    panel.title = "Panel";
    if (in.panel) {
        panel.picture = ReportPicture::Panel;
        panel.paragraphs.push_back(in.logs.panelFile.empty()
                                       ? "The panel as it was at " + reportTime(in.made, true) + "."
                                       : "The panel at the logged moment " +
                                             reportTime(in.logs.panelTime, true) + " (record " +
                                             std::to_string(in.logs.panelRecord) + " of " +
                                             in.logs.panelFile + ").");
        panel.tables.push_back(
            panelTable(*in.panel, in.selectedBank, in.settings[ref::indicator_type - 1]));
    } else {
        panel.paragraphs.push_back("No panel: neither a controller nor a log record was given.");
    }
    report.sections.push_back(std::move(panel));

    ReportSection settings;
    if (in.before) {
        settings.title = "Settings changed";
        ReportTable table;
        std::string why;
        if (!changesTable(in.settings, firmware, *in.before, table, why)) {
            settings.paragraphs.push_back("The backup " + in.beforeName +
                                          " was not compared: " + why + ".");
        } else {
            settings.paragraphs.push_back("Against the backup " + in.beforeName + ".");
            if (static_cast<int>(in.before->serialNumber) != serial)
                settings.paragraphs.push_back("The backup is of the controller with serial " +
                                              std::to_string(in.before->serialNumber) +
                                              ", not of this one.");
            if (table.rows.empty())
                settings.paragraphs.push_back(
                    "Nothing changed: every setting holds the backup's value.");
            else
                settings.tables.push_back(std::move(table));
        }
    } else {
        settings.title = "Settings";
        settings.paragraphs.push_back("As the settings screens show them, in engineering units.");
        if (const std::string note = settingsUnreadNote(firmware); !note.empty())
            settings.paragraphs.push_back(note);
        settings.tables = settingsTables(in.settings, firmware);
    }
    report.sections.push_back(std::move(settings));

    ReportSection events;
    events.title = "Event log";
    if (in.events)
        events.tables.push_back(eventTable(*in.events));
    else
        events.paragraphs.push_back(
            "Not read: the event log is held by the controller and read only from it.");
    report.sections.push_back(std::move(events));

    ReportSection overview;
    overview.title = "Overview of the visit";
    if (in.logs.files.empty()) {
        overview.paragraphs.push_back("No logs were given.");
    } else {
        overview.picture = ReportPicture::Overview;
        overview.paragraphs.push_back("Logged from " + reportTime(in.logs.from) + " to " +
                                      reportTime(in.logs.to) + ".");
    }
    report.sections.push_back(std::move(overview));

    ReportSection notes;
    notes.title = "Technician's notes";
    notes.paragraphs = freeTextParagraphs(in.text);
    if (notes.paragraphs.empty()) notes.paragraphs.push_back("(none)");
    report.sections.push_back(std::move(notes));
    return report;
}

}  // namespace kvx
