#include "report/report_sources.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/small_file.h"
#include "base/text_escape.h"
#include "log/log_reader.h"
#include "log/log_result.h"
#include "model/registers.h"
#include "settings/event_log.h"

namespace kvx {
namespace {

std::string shown(const std::string& path) {
    return cli::printable(path);
}

}  // namespace

bool findVisitLogs(const std::string& folder, std::int64_t from, std::int64_t to, std::int64_t at,
                   OverviewSet& set, ReportLogs& logs, std::string& error,
                   const std::function<void(std::size_t, std::size_t)>& progress,
                   const std::atomic<bool>* cancel) {
    logs = ReportLogs{};
    std::vector<std::string> files =
        findLogFiles(folder, from, to ? to : std::numeric_limits<std::int32_t>::max(), &error);
    if (files.empty()) return false;
    set.setFiles(std::move(files));
    if (!set.build(progress, cancel)) {
        error = "cancelled";
        return false;
    }
    std::string problem;
    for (const OverviewFile& f : set.files()) {
        if (f.problem.empty())
            logs.files.push_back(f.path);
        else if (problem.empty())
            problem = shown(f.path) + ": " + f.problem;
    }
    if (logs.files.empty()) {
        error = "no usable log records in " + shown(folder) +
                (problem.empty() ? "" : " (" + problem + ")");
        return false;
    }
    // The visit: the records logged within the hours asked for.
    logs.from = static_cast<std::int64_t>(set.firstTime());
    logs.to = static_cast<std::int64_t>(std::ceil(set.endTime())) - 1;
    if (from) logs.from = std::max(logs.from, from);
    if (to) logs.to = std::min(logs.to, to);
    if (logs.to < logs.from) {
        error = "no logged records in " + shown(folder) + " between " + reportTime(from) + " and " +
                reportTime(to);
        return false;
    }
    if (at && (at < logs.from || at > logs.to)) {
        error = "no logged record at " + reportTime(at, true) + ": the logs run from " +
                reportTime(logs.from, true) + " to " + reportTime(logs.to, true);
        return false;
    }
    OverviewLocation moment;
    // The last record at or before the moment (the end of the visit when none is asked for).
    if (!set.locate(static_cast<double>(at ? at : logs.to) + 0.999, moment)) {
        error =
            "no logged record at " + reportTime(at ? at : logs.to, true) + " in " + shown(folder);
        return false;
    }
    logs.panelFile = moment.path;
    logs.panelRecord = moment.record;
    logs.panelTime = moment.time;
    return true;
}

bool readReportSettings(const std::string& path, ReportInputs& in, std::string& error) {
    SettingsFileContents file;
    SettingsFileError why;
    if (!readSettingsFile(path, file, why)) {
        error = "settings file " + shown(path) + ": " + why.text();
        return false;
    }
    in.settings = file.image;
    in.identity.product_type = file.image[ref::product_type - 1];
    in.identity.version = static_cast<std::int16_t>(file.firmware);
    in.identity.serial_number = static_cast<std::int16_t>(file.serialNumber);
    in.identity.modbus_address = file.image[ref::modbus_address - 1];
    in.source = "settings file " + shown(path);
    return true;
}

bool readReportBackup(const std::string& path, ReportInputs& in, std::string& error) {
    SettingsFileContents file;
    SettingsFileError why;
    if (!readSettingsFile(path, file, why)) {
        error = "backup file " + shown(path) + ": " + why.text();
        return false;
    }
    in.before = file;
    const auto slash = path.rfind('/');
    in.beforeName = shown(slash == std::string::npos ? path : path.substr(slash + 1));
    return true;
}

bool readReportText(const std::string& path, std::string& text, std::string& error) {
    int openErrno = 0;
    switch (readSmallFile(path, kReportTextMaxBytes, text, &openErrno)) {
        case SmallFile::Read:
            return true;
        case SmallFile::Missing:
            error = "text file " + shown(path) + ": no such file";
            return false;
        case SmallFile::Refused:
            error = "text file " + shown(path) + ": " +
                    (openErrno ? std::strerror(openErrno) : "not a regular file of at most 1 MB");
            return false;
    }
    return false;
}

bool readLoggedPanel(ReportInputs& in, std::string& error) {
    LogReader reader;
    LogRecord record;
    if (reader.open(in.logs.panelFile) != LOG_OK ||
        reader.readRecord(in.logs.panelRecord, record) != LOG_OK) {
        error = "cannot read record " + std::to_string(in.logs.panelRecord) + " of " +
                shown(in.logs.panelFile);
        return false;
    }
    LiveData live;
    record.toLiveData(live);
    in.panel = live;
    return true;
}

int readControllerForReport(DeviceLink& link, int slave, ReportInputs& in, InputImage& image,
                            LiveStatus& status, DisplayRanges& ranges, std::string& error) {
    const auto failed = [&](const std::string& what, int rc) {
        error = what + " failed: result " + std::to_string(rc);
        return rc;
    };
    std::int16_t regs[DeviceIdentity::kCount];
    if (const int rc = link.readHoldingRegisters(slave, DeviceIdentity::kFirstRef, regs,
                                                 DeviceIdentity::kCount);
        rc != 0)
        return failed("the identity read (registers 1-4)", rc);
    in.identity = DeviceIdentity::fromRegisters(regs);
    const int firmware = in.identity.version;
    BlockRange range{};
    if (const int rc = readSettingsImage(link, slave, firmware, in.settings, &range); rc != 0)
        return failed("the settings read of registers " + std::to_string(range.first) + "-" +
                          std::to_string(range.last()),
                      rc);
    EventWords words{};
    if (const int rc = readEventHistory(link, slave, words); rc != 0)
        return failed("the event log read (input registers 201-240)", rc);
    in.events = words;
    std::int16_t first[DisplayRanges::kFirstCount];
    std::int16_t second[DisplayRanges::kSecondCount];
    if (const int rc = link.readHoldingRegisters(slave, DisplayRanges::kFirstRead, first,
                                                 DisplayRanges::kFirstCount);
        rc != 0)
        return failed("the instrument ranges' read", rc);
    if (const int rc = link.readHoldingRegisters(slave, DisplayRanges::kSecondRead, second,
                                                 DisplayRanges::kSecondCount);
        rc != 0)
        return failed("the instrument ranges' read", rc);
    ranges = computeDisplayRanges(first, second, firmware, ranges);
    const int a = link.readInputRegisters(slave, kBlockA.firstRef, image.a.data(), kBlockA.count);
    int b = -1;
    if (readsBlockB105(firmware))
        b = link.readInputRegisters(slave, kBlockB105.firstRef, image.b105.data(),
                                    kBlockB105.count);
    else if (readsBlockB106(firmware))
        b = link.readInputRegisters(slave, kBlockB106.firstRef, image.b106.data(),
                                    kBlockB106.count);
    if (readsBlockB113(firmware))
        link.readInputRegisters(slave, kBlockB113.firstRef, image.b113.data(), kBlockB113.count);
    if (a != 0) return failed("the panel's poll (input registers 1-44)", a);
    LiveData live;
    decodeLiveData(image, ranges.indicator_type, true, readsBlockB106(firmware) && b == 0, live,
                   status);
    in.panel = live;
    return 0;
}

}  // namespace kvx
