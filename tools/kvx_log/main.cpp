// kvx-log: looks into the hourly log files, turns them into CSV for a spreadsheet and plots
// them as a picture.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "log/log_csv.h"
#include "log/log_file_name.h"
#include "log/log_reader.h"
#include "plot.h"

namespace {

using namespace kvx;

constexpr int kExitOk = 0;
constexpr int kExitFileProblem = 1;  // unreadable, not a log, or no record readable
constexpr int kExitSomeSkipped = 3;  // damaged records skipped, the others given

const char kUsage[] =
    "Usage: kvx-log info FILE...\n"
    "  or:  kvx-log csv FILE [--raw]\n"
    "  or:  kvx-log plot FILE|FOLDER... [--from TIME] [--to TIME] [--channels LIST]\n"
    "                    [--size WxH] --out FILE.png|FILE.svg\n"
    "  or:  kvx-log --help | --version\n";

const char kHelp[] =
    "\n"
    "Reads the hourly log files of the Orvik KVX viewer (log_<year>_<month>_<day>_<hour>.log).\n"
    "\n"
    "  info FILE...     for each file: its title (the firmware header, if it has one), the\n"
    "                   number of records and of damaged ones, the first and last readable\n"
    "                   record time in local time and the size of any trailing partial record\n"
    "  csv FILE         one CSV row per readable record on standard output: the record time\n"
    "                   in local ISO 8601 with its UTC offset, then the 20 logged values in\n"
    "                   engineering units (tenths, hundredths, thousandths written out with\n"
    "                   fixed decimals)\n"
    "  csv FILE --raw   the same with the values as stored (integers)\n"
    "  plot FILE|FOLDER...\n"
    "                   the overview picture of the files (a folder stands for its log files):\n"
    "                   one strip per channel against local time, each pixel column showing\n"
    "                   the lowest and highest value of its records, so no single record is\n"
    "                   lost; gaps without records are shaded and not joined; a band above\n"
    "                   the strips marks alarms, shutoffs and damaged records\n"
    "    --from TIME, --to TIME\n"
    "                   the range shown, local time: 2026-12-08, 2026-12-08T13 or\n"
    "                   2026-12-08T13:30[:15] (default: all the records of the files)\n"
    "    --channels LIST\n"
    "                   the strips, top to bottom: field names as in the CSV header, comma-\n"
    "                   separated, or all (default: engine_speed, engine_load, diesel_flow,\n"
    "                   gas_flow, substitution_rate, exhaust_temp, vibration, alarm_flags)\n"
    "    --size WxH     the picture in pixels (default 1920x1080)\n"
    "    --out FILE     the picture: FILE.png or FILE.svg\n"
    "                   Summaries of the files are kept in $XDG_CACHE_HOME/orvik-kvx/overview\n"
    "                   (or ~/.cache/orvik-kvx/overview), so a second plot of the same files\n"
    "                   reads only their summaries.\n"
    "\n"
    "A file without the KVX header is read as records from its first byte. A record is damaged\n"
    "when its time is before 1980 or more than five minutes outside the hour its file is named\n"
    "for (in the local time zone; set TZ to read another site's files), or when it holds a\n"
    "value that no 16-bit controller register can have. Damaged records are left out and\n"
    "named on standard error by their number (the first record is 0, as in the viewer's\n"
    "player); every other record is given. When no record falls in the hour of the file name\n"
    "(a renamed file, or one from another time zone) a warning says so and the times are not\n"
    "held against the name. A file with records none of which can be read is refused (as not a\n"
    "log when it has no header), and nothing is written for it. A file copied while the viewer\n"
    "wrote it, or cut by a power loss, may end in a partial record (or header): that is normal,\n"
    "a warning on standard error reports it and the whole records are still given.\n"
    "\n"
    "Exit status: 0 every record read (even when a file ends in a partial record); 3 some\n"
    "records were damaged and skipped; 1 a file could not be read at all, is not a log or has\n"
    "no readable record (this wins over 3 for several files); 2 bad usage. For plot: 0 the\n"
    "picture holds every record; 3 it was written but some files were left out or some\n"
    "records were damaged (each named on standard error); 1 no picture (no readable file, no\n"
    "record in the range, or the picture could not be written).\n";

void complain(const std::string& path, const std::string& message) {
    std::fprintf(stderr, "kvx-log: %s: %s\n", path.c_str(), message.c_str());
}

// One line, as every program of the project reports a bad command line.
int usageError(const std::string& message) {
    std::fprintf(stderr,
                 "kvx-log: %s (usage: kvx-log info FILE... | csv FILE [--raw] | plot FILE... "
                 "--out FILE.png)\n",
                 message.c_str());
    return cli::kExitUsage;
}

// The title comes from the file: control bytes (a terminal escape, say) are shown as \xNN
// rather than sent to the terminal.
std::string printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out;
}

bool openLog(const std::string& path, LogReader& reader) {
    const int result = reader.open(path);
    if (result == LOG_OPEN_FAILED) {
        complain(path, std::string("cannot open: ") + std::strerror(reader.errorNumber()));
        return false;
    }
    if (result == LOG_NOT_REGULAR) {
        complain(path, reader.errorNumber() == EISDIR ? "is a directory" : "not a regular file");
        return false;
    }
    if (result != LOG_OK) {
        complain(path, "cannot read the file");
        return false;
    }
    if (!reader.hasHeader() && reader.recordCount() == 0 && reader.trailingBytes() > 0) {
        complain(path, "not a KVX log file: no header and shorter than one record (" +
                           std::to_string(reader.trailingBytes()) + " bytes)");
        return false;
    }
    return true;
}

constexpr std::int64_t kBatch = 4096;

// Which records of a file are readable, found before any output is given for it.
struct RecordScan {
    std::vector<bool> damaged;  // by record number
    std::int64_t damagedCount = 0;
    std::int64_t firstReadable = -1;
    std::int64_t lastReadable = -1;
};

// Names the damaged records on standard error: a run of neighbours as one line, with the
// reason of its first record.
void reportDamage(const std::string& path, const LogReader& reader, const LogFileHour* hour,
                  const RecordScan& scan) {
    const std::int64_t count = reader.recordCount();
    for (std::int64_t n = 0; n < count;) {
        if (!scan.damaged[n]) {
            ++n;
            continue;
        }
        std::int64_t end = n + 1;
        while (end < count && scan.damaged[end])
            ++end;
        LogRecord record;
        std::string why = "cannot be read";
        if (reader.readRecord(n, record) == LOG_OK) isPlausibleLogRecord(record, hour, &why);
        if (end - n == 1)
            complain(path, "record " + std::to_string(n) + " is damaged, skipped: " + why);
        else
            complain(path, "records " + std::to_string(n) + " to " + std::to_string(end - 1) +
                               " are damaged, skipped; the first: " + why);
        n = end;
    }
    complain(path, std::to_string(scan.damagedCount) + " of " + std::to_string(count) +
                       " records damaged and skipped");
}

// Checks every record. False (after saying why) when the file cannot be given at all: a read
// error, or records none of which is readable.
bool scanRecords(const std::string& path, const LogReader& reader, std::vector<LogRecord>& batch,
                 RecordScan& scan) {
    const std::int64_t count = reader.recordCount();
    LogFileHour fileHour;
    const bool named = parseLogFileName(path, fileHour);
    // Two verdicts per record, with and without the hour of the file name: when the name
    // fits no record at all, the file was renamed or written in another time zone.
    std::vector<bool> badWithHour(static_cast<std::size_t>(count)),
        badAnyway(static_cast<std::size_t>(count));
    std::int64_t inHour = 0, plausible = 0;
    for (std::int64_t first = 0; first < count; first += kBatch) {
        const std::int64_t want = std::min(kBatch, count - first);
        if (reader.readRecords(first, want, batch.data()) != want) {
            complain(path, "read error at record " + std::to_string(first));
            return false;
        }
        for (std::int64_t k = 0; k < want; ++k) {
            const bool anyway = !isPlausibleLogRecord(batch[k], nullptr, nullptr);
            const bool withHour = anyway || (named && !isNearLogFileHour(batch[k].time, fileHour));
            badAnyway[first + k] = anyway;
            badWithHour[first + k] = withHour;
            plausible += !anyway;
            inHour += !withHour;
        }
    }
    const bool useHour = named && (inHour > 0 || plausible == 0);
    if (named && !useHour)
        std::fprintf(stderr,
                     "kvx-log: %s: warning: no record falls in the hour of the file name (a "
                     "renamed file, or one written in another time zone?); the times are not "
                     "checked against it\n",
                     path.c_str());
    scan.damaged = useHour ? std::move(badWithHour) : std::move(badAnyway);
    for (std::int64_t n = 0; n < count; ++n) {
        if (scan.damaged[n]) {
            ++scan.damagedCount;
        } else {
            if (scan.firstReadable < 0) scan.firstReadable = n;
            scan.lastReadable = n;
        }
    }
    if (count > 0 && scan.firstReadable < 0) {
        LogRecord record;
        std::string why = "cannot be read";
        if (reader.readRecord(0, record) == LOG_OK)
            isPlausibleLogRecord(record, useHour ? &fileHour : nullptr, &why);
        complain(path, std::string(reader.hasHeader() ? "damaged" : "not a KVX log file") +
                           ": no readable record (record 0 is damaged: " + why + ")");
        return false;
    }
    if (scan.damagedCount > 0) reportDamage(path, reader, useHour ? &fileHour : nullptr, scan);
    return true;
}

// A file still being written, or cut by a power loss, ends in part of a record (or of the
// header). That is how the viewer leaves files, not damage: say so and go on.
void warnTruncation(const std::string& path, const LogReader& reader) {
    if (reader.headerTruncated()) {
        std::fprintf(
            stderr,
            "kvx-log: %s: warning: truncated: the header is incomplete (%lld of 40 bytes)\n",
            path.c_str(), static_cast<long long>(reader.fileSize()));
    } else if (reader.trailingBytes() > 0) {
        std::fprintf(
            stderr,
            "kvx-log: %s: warning: truncated: %lld bytes of a partial record after the last whole "
            "record, ignored\n",
            path.c_str(), static_cast<long long>(reader.trailingBytes()));
    }
}

int info(const std::vector<std::string>& paths) {
    int status = kExitOk;
    std::vector<LogRecord> batch(kBatch);
    for (const std::string& path : paths) {
        LogReader reader;
        RecordScan scan;
        if (!openLog(path, reader) || !scanRecords(path, reader, batch, scan)) {
            status = kExitFileProblem;
            continue;
        }
        if (scan.damagedCount > 0 && status == kExitOk) status = kExitSomeSkipped;
        std::printf("%s\n", path.c_str());
        if (reader.hasHeader())
            std::printf("  title: %s\n", printable(reader.title()).c_str());
        else
            std::printf("  title: none (no header)\n");
        std::printf("  records: %lld\n", static_cast<long long>(reader.recordCount()));
        if (scan.damagedCount > 0)
            std::printf("  damaged records: %lld, skipped\n",
                        static_cast<long long>(scan.damagedCount));
        LogRecord first, last;
        if (scan.firstReadable >= 0 && reader.readRecord(scan.firstReadable, first) == LOG_OK &&
            reader.readRecord(scan.lastReadable, last) == LOG_OK) {
            std::printf("  first record: %s\n", formatLocalIsoTime(first.time).c_str());
            std::printf("  last record: %s\n", formatLocalIsoTime(last.time).c_str());
        } else {
            std::printf("  first record: none\n  last record: none\n");
        }
        if (reader.headerTruncated())
            std::printf("  header: truncated, %lld of 40 bytes\n",
                        static_cast<long long>(reader.fileSize()));
        if (reader.trailingBytes() > 0)
            std::printf("  trailing partial record: %lld bytes\n",
                        static_cast<long long>(reader.trailingBytes()));
        else
            std::printf("  trailing partial record: none\n");
        std::fflush(stdout);
        warnTruncation(path, reader);
    }
    return status;
}

bool put(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

int csv(const std::string& path, bool raw) {
    LogReader reader;
    std::vector<LogRecord> batch(kBatch);
    RecordScan scan;
    if (!openLog(path, reader) || !scanRecords(path, reader, batch, scan)) return kExitFileProblem;

    std::string text = csvHeaderRow();
    bool written = put(text);
    for (std::int64_t first = 0; written && first < reader.recordCount(); first += kBatch) {
        const std::int64_t want = std::min(kBatch, reader.recordCount() - first);
        if (reader.readRecords(first, want, batch.data()) != want) {
            std::fflush(stdout);
            complain(path, "read error at record " + std::to_string(first));
            return kExitFileProblem;
        }
        text.clear();
        for (std::int64_t k = 0; k < want; ++k)
            if (!scan.damaged[first + k]) appendCsvRow(batch[k], raw, text);
        written = put(text);
    }
    if (std::fflush(stdout) != 0 || !written) {
        std::fprintf(stderr, "kvx-log: cannot write the output: %s\n", std::strerror(errno));
        return kExitFileProblem;
    }
    warnTruncation(path, reader);
    return scan.damagedCount > 0 ? kExitSomeSkipped : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::printf("%s%s", kUsage, kHelp);
        return kExitOk;
    }
    if (command == "--version") return cli::printVersion("kvx-log");
    if (command == "plot") {
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--") break;
            if (arg == "--help" || arg == "-h") {
                std::printf("%s%s", kUsage, kHelp);
                return kExitOk;
            }
        }
        return runPlot(argc, argv);
    }
    if (command != "info" && command != "csv")
        return usageError("unknown command '" + command + "'");

    std::vector<std::string> files;
    bool raw = false;
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && (arg == "--help" || arg == "-h")) {
            std::printf("%s%s", kUsage, kHelp);
            return kExitOk;
        } else if (!optionsEnd && command == "csv" && arg == "--raw") {
            raw = true;
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + arg + "' for " + command);
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return usageError(command + " needs a FILE");
    if (command == "info") return info(files);
    if (files.size() != 1) return usageError("csv takes exactly one FILE");
    return csv(files[0], raw);
}
