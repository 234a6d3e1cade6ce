#include "report/report_sources.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/small_file.h"
#include "base/text_escape.h"
#include "log/log_file_name.h"
#include "log/log_reader.h"
#include "log/log_record_check.h"
#include "log/log_result.h"
#include "model/registers.h"
#include "settings/event_log.h"

namespace kvx {
namespace {

std::int64_t localToUtc(int year, int month, int day, int hour, int minute) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

std::string shown(const std::string& path) {
    return cli::printable(path);
}

struct HourFile {
    std::string path;
    std::int64_t start = 0;  // UTC seconds of the hour's start
};

}  // namespace

bool parseReportTime(const std::string& text, std::int64_t& utc) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, used = 0;
    char sep = 0;
    const char* s = text.c_str();
    if (std::sscanf(s, "%4d-%2d-%2d%c%2d%n", &year, &month, &day, &sep, &hour, &used) != 5)
        return false;
    if (sep != ' ' && sep != 'T') return false;
    if (s[used] == ':') {
        int more = 0;
        if (std::sscanf(s + used, ":%2d%n", &minute, &more) != 1) return false;
        used += more;
    }
    if (s[used] != '\0' || year < 1980 || month < 1 || month > 12 || day < 1 || day > 31 ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return false;
    utc = localToUtc(year, month, day, hour, minute);
    return true;
}

bool findVisitLogs(const std::string& folder, std::int64_t from, std::int64_t to, std::int64_t at,
                   ReportLogs& logs, std::string& error) {
    logs = ReportLogs{};
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        error = "cannot open the log folder " + shown(folder) + ": " + std::strerror(errno);
        return false;
    }
    std::vector<HourFile> files;
    int others = 0;
    for (dirent* e = readdir(dir); e; e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        LogFileHour hour;
        if (!parseLogFileName(name, hour)) {
            ++others;
            continue;
        }
        const std::string path = folder + (folder.back() == '/' ? "" : "/") + name;
        const std::int64_t start = localToUtc(hour.year, hour.month, hour.day, hour.hour, 0);
        if ((from && start + 3600 <= from) || (to && start > to)) continue;
        files.push_back({path, start});
    }
    closedir(dir);
    if (files.empty()) {
        error = (from || to) ? "no log files in " + shown(folder) + " for the hours asked"
                             : shown(folder) + " holds no log files (log_<year>_<month>_<day>_" +
                                   "<hour>.log)";
        if (others > 0 && !(from || to))
            error += "; its " + std::to_string(others) + " other files are not this program's logs";
        return false;
    }
    std::sort(files.begin(), files.end(),
              [](const HourFile& a, const HourFile& b) { return a.start < b.start; });
    std::string lastProblem;
    std::vector<LogRecord> batch(4096);
    for (const HourFile& f : files) {
        LogReader reader;
        if (reader.open(f.path) != LOG_OK) {
            lastProblem = "cannot read " + shown(f.path);
            continue;
        }
        LogFileHour hour;
        parseLogFileName(f.path, hour);
        bool any = false;
        for (std::int64_t first = 0; first < reader.recordCount();) {
            const std::int64_t n =
                reader.readRecords(first, static_cast<std::int64_t>(batch.size()), batch.data());
            if (n <= 0) break;
            for (std::int64_t k = 0; k < n; ++k) {
                const LogRecord& r = batch[static_cast<std::size_t>(k)];
                if (!isPlausibleLogRecord(r, &hour, nullptr)) continue;
                if ((from && r.time < from) || (to && r.time > to)) continue;
                any = true;
                if (logs.from == 0) logs.from = r.time;
                logs.to = r.time;
                // The panel's moment: the first record at or after at, else the last one.
                const bool wanted = at ? logs.panelRecord < 0 || logs.panelTime < at : true;
                if (wanted) {
                    logs.panelFile = f.path;
                    logs.panelRecord = first + k;
                    logs.panelTime = r.time;
                }
            }
            first += n;
        }
        if (any)
            logs.files.push_back(f.path);
        else
            lastProblem = shown(f.path) + " holds no record this program wrote";
    }
    if (logs.files.empty()) {
        error = "no usable log records in " + shown(folder) +
                (lastProblem.empty() ? "" : " (" + lastProblem + ")");
        return false;
    }
    if (at && logs.panelTime < at) {
        error = "no logged record at or after the moment asked for (the logs end at " +
                reportTime(logs.to, true) + ")";
        return false;
    }
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
    ranges = computeDisplayRanges(first, second, firmware, DisplayRanges{});
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
