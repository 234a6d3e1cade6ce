#include "tools/kvx_probe/probe.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

#include "base/command_line.h"
#include "link/result_codes.h"
#include "model/alarm_text.h"
#include "settings/register_screen.h"
#include "settings/settings_file.h"
#include "settings/settings_restore.h"

namespace kvx::probe {
std::string probeUsage() {
    return "Usage: kvx-probe --port NAME [--slave N] [--data-dir DIR]\n"
           "                 [--polls N | --settings-csv FILE |\n"
           "                  (--settings-diff FILE | --settings-restore FILE [--yes])\n"
           "                  [--include modbus_address|calibration|added_rows[,...]]]\n"
           "Connects to a Dravo controller as the viewer does (9600 baud 8N1, 3000 ms reply\n"
           "time-out, no retries), reads its identity, the instrument ranges and one poll's\n"
           "input blocks for its firmware version, and prints name=value lines.\n"
           "\n"
           "  --port NAME     serial device path (/dev/ttyUSB0, or the simulator's device),\n"
           "                  COMn as the viewer resolves it, or a network port:\n"
           "                  tcp://HOST:PORT (RTU over TCP), modbus-tcp://HOST[:PORT] (502),\n"
           "                  modbus-tls://HOST[:PORT] (802; TLS files from tls_ca_file,\n"
           "                  tls_cert_file and tls_key_file in kvx_settings.conf of the\n"
           "                  data directory)\n"
           "  --slave N       slave address 1..247 (default 1)\n"
           "  --polls N       poll N times back to back (1..1000000, default 1), print the last\n"
           "                  poll's values and a summary: polls made, good polls, the count of\n"
           "                  each failing result code, median and 99th-percentile poll time\n"
           "  --settings-csv FILE\n"
           "                  instead of polling, read the controller's settings as the\n"
           "                  viewer's Upload Settings does and write the same settings file\n"
           "                  (replaced whole; nothing is left behind when a read or the\n"
           "                  write fails)\n"
           "  --settings-diff FILE\n"
           "                  compare the controller with a settings file of the same firmware:\n"
           "                  the registers a restore would write that differ (in engineering\n"
           "                  units where the settings screens show them), then those never\n"
           "                  restored (identity, commands, clock, the controller's own records)\n"
           "  --settings-restore FILE\n"
           "                  the same comparison, and the plan: the file's value for every\n"
           "                  register that differs, written one by one in reference order\n"
           "  --yes           with --settings-restore: write the plan, read every written\n"
           "                  register back, and send the save command when all of them hold\n"
           "                  their values; without it nothing is written\n"
           "  --include WHAT  with --settings-restore (and --settings-diff, whose exit status\n"
           "                  then says whether such a restore would write), a comma list\n"
           "                  of: modbus_address, also\n"
           "                  write the file's slave address (last; the read-back and the save\n"
           "                  go to the new address); calibration, also write the sensor gains\n"
           "                  and offsets and calibrated of a file read from another controller\n"
           "                  (they belong to that unit: left out otherwise; a file of the same\n"
           "                  controller restores them anyway); added_rows, also write rows\n"
           "                  93-114 (firmware 1.06-1.11) and 151 (1.12-1.14), which backups\n"
           "                  made before the upload read them hold as 0\n"
           "  --monitor       print every frame sent and received, one line each, as the\n"
           "                  viewer's Traffic window shows it: the time, TX or RX, the bytes\n"
           "                  in hex, and for a reply the master's verdict (good, timeout,\n"
           "                  bad-crc, mismatch, exception, io-failure, passed-over) and its\n"
           "                  delay; then a line counting the verdicts (monitor: ...)\n"
           "  --monitor-file FILE\n"
           "                  with --monitor: the frame lines into FILE (replaced) instead of\n"
           "                  standard output; implies --monitor\n"
           "  --data-dir DIR  the viewer's program directory, where COMn links are looked up\n"
           "                  (default $XDG_DATA_HOME/Orvik_KVX, else ~/.local/share/Orvik_KVX)\n"
           "  --help          show this text\n"
           "  --version       show the program's version\n"
           "\n"
           "Exit status: 0 when every poll was good (or the settings file was written); 1 when\n"
           "the port could not be opened, the identity could not be read, a poll or a settings\n"
           "read failed (a one-line error names the result code) or the settings file could\n"
           "not be written; 2 for a bad option. With --settings-diff: 0 when a restore with the\n"
           "same --include would write nothing (differences it leaves alone are still listed),\n"
           "1 when it would, 3 the port, a read or the file failed, or the file is of another\n"
           "firmware. With --settings-restore: 0 restored and saved (or only the plan printed,\n"
           "or nothing to write), 3 as for --settings-diff with nothing written, 4 a write,\n"
           "the read-back or the save failed (what was written is printed; nothing is saved\n"
           "unless every register holds its value).\n";
}

bool parseProbeOptions(int argc, const char* const* argv, ProbeOptions& o, std::string& error) {
    cli::ArgReader args(argc, argv);
    const auto ok = [&](bool good) {
        if (!good) error = args.error();
        return good;
    };
    while (args.next()) {
        const std::string_view name = args.name();
        std::string_view value;
        if (args.isHelp()) {
            if (!ok(args.noValue())) return false;
            o.help = true;
        } else if (args.isVersion()) {
            if (!ok(args.noValue())) return false;
            o.version = true;
        } else if (name == "--port") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a port name"));
            o.port = std::string(value);
        } else if (name == "--slave") {
            if (!ok(args.integer(1, 247, o.slave))) return false;
        } else if (name == "--polls") {
            if (!ok(args.integer(1, 1000000, o.polls))) return false;
        } else if (name == "--settings-csv") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a file name"));
            o.settingsCsv = std::string(value);
        } else if (name == "--settings-diff" || name == "--settings-restore") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a file name"));
            (name == "--settings-diff" ? o.settingsDiff : o.settingsRestore) = std::string(value);
        } else if (name == "--yes") {
            if (!ok(args.noValue())) return false;
            o.yes = true;
        } else if (name == "--include") {
            if (!ok(args.value(value))) return false;
            // What a restore leaves alone unless asked for it by name.
            for (std::string_view rest = value;;) {
                const std::size_t comma = rest.find(',');
                const std::string_view item = rest.substr(0, comma);
                if (item == "modbus_address")
                    o.includeAddress = true;
                else if (item == "calibration")
                    o.includeCalibration = true;
                else if (item == "added_rows")
                    o.includeAddedRows = true;
                else
                    return ok(args.expected(
                        "modbus_address, calibration or added_rows, comma-separated"));
                if (comma == std::string_view::npos) break;
                rest = rest.substr(comma + 1);
            }
        } else if (name == "--monitor") {
            if (!ok(args.noValue())) return false;
            o.monitor = true;
        } else if (name == "--monitor-file") {
            if (!ok(args.value(value))) return false;
            if (value.empty()) return ok(args.expected("a file name"));
            o.monitorFile = std::string(value);
            o.monitor = true;
        } else if (name == "--data-dir") {
            if (!ok(args.value(value))) return false;
            o.dataDir = std::string(value);
        } else {
            return ok(args.unknown());
        }
    }
    const int modes = !o.settingsCsv.empty() + !o.settingsDiff.empty() + !o.settingsRestore.empty();
    if (modes > 1) {
        error = "give only one of --settings-csv, --settings-diff and --settings-restore";
        return false;
    }
    if (modes == 1 && o.polls != 1) {
        error = "--polls cannot be given with a settings file";
        return false;
    }
    if (modes == 1 && o.monitor) {
        error = "--monitor watches polls: not with a settings file";
        return false;
    }
    if (o.yes && o.settingsRestore.empty()) {
        error = "--yes goes with --settings-restore only";
        return false;
    }
    if ((o.includeAddress || o.includeCalibration || o.includeAddedRows) &&
        o.settingsRestore.empty() && o.settingsDiff.empty()) {
        error = "--include goes with --settings-diff or --settings-restore only";
        return false;
    }
    if (!o.help && !o.version && o.port.empty()) {
        error = "--port is required";
        return false;
    }
    return true;
}

std::string resultName(int result) {
    switch (result) {
        case MBR_SUCCESS:
            return "MBR_SUCCESS";
        case MBR_BAD_ARGUMENT:
            return "MBR_BAD_ARGUMENT";
        case MBR_WRONG_STATE:
            return "MBR_WRONG_STATE";
        case MBR_IO_FAILURE:
            return "MBR_IO_FAILURE";
        case MBR_OPEN_FAILED:
            return "MBR_OPEN_FAILED";
        case MBR_PORT_BUSY:
            return "MBR_PORT_BUSY";
        case MBR_CRC_MISMATCH:
            return "MBR_CRC_MISMATCH";
        case MBR_FRAME_MISMATCH:
            return "MBR_FRAME_MISMATCH";
        case MBR_REPLY_MISMATCH:
            return "MBR_REPLY_MISMATCH";
        case MBR_REPLY_TIMEOUT:
            return "MBR_REPLY_TIMEOUT";
        case MBR_SEND_TIMEOUT:
            return "MBR_SEND_TIMEOUT";
        default:
            break;
    }
    if (result > MBR_EXCEPTION && result <= (MBR_EXCEPTION | 0x1F))
        return "MBR_EXCEPTION|" + std::to_string(result & 0x1F);
    // Codes above 31 overlap the OR'ed bits and cannot be told apart; still an exception.
    if (result > MBR_EXCEPTION && result <= 0xFF && (result & MBR_EXCEPTION) == MBR_EXCEPTION)
        return "MBR_EXCEPTION";
    return "unknown";
}

std::string openFailureText(const std::string& device, int error) {
    // The path as given may hold any byte: it reaches the terminal spelled out.
    const std::string shown = cli::printable(device);
    std::string text = "cannot open " + shown;
    if (error == EWOULDBLOCK) return text + " (another program holds it)";
    if (error == 0) return text;
    text += " (" + std::string(std::strerror(error)) + ")";
    if (error != EACCES && error != EPERM) return text;

    // Who may open it, as ls -l would show, so the technician sees why.
    std::string owner;
    struct stat st {};
    if (::stat(device.c_str(), &st) == 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        const group* g = ::getgrgid(st.st_gid);
        owner = " (group " + (g ? std::string(g->gr_name) : std::to_string(st.st_gid)) + ", mode " +
                mode + ")";
    }
    return text + "\nthis user may not open " + shown + owner +
           ". Serial ports belong to the 'dialout' group: join it with\n"
           "  sudo usermod -aG dialout $USER\n"
           "then log out and in again (the new group counts from the next login).";
}

int PollResult::failure() const {
    if (blockA != 0) return blockA;
    if (blockB > 0) return blockB;
    return 0;
}

int Prober::connect() {
    std::int16_t regs[DeviceIdentity::kCount];
    const int rc = master_.readHoldingRegisters(slave_, DeviceIdentity::kFirstRef, regs,
                                                DeviceIdentity::kCount);
    identity_ = DeviceIdentity::fromRegisters(regs);
    if (rc != 0) return rc;
    std::int16_t first[DisplayRanges::kFirstCount];
    std::int16_t second[DisplayRanges::kSecondCount];
    master_.readHoldingRegisters(slave_, DisplayRanges::kFirstRead, first,
                                 DisplayRanges::kFirstCount);
    master_.readHoldingRegisters(slave_, DisplayRanges::kSecondRead, second,
                                 DisplayRanges::kSecondCount);
    indicatorType_ =
        computeDisplayRanges(first, second, identity_.version, DisplayRanges{}).indicator_type;
    return 0;
}

PollResult Prober::poll() {
    PollResult r;
    const int fw = identity_.version;
    const auto start = std::chrono::steady_clock::now();
    r.blockA = master_.readInputRegisters(slave_, kBlockA.firstRef, image_.a.data(), kBlockA.count);
    if (readsBlockB105(fw)) {
        r.blockB = master_.readInputRegisters(slave_, kBlockB105.firstRef, image_.b105.data(),
                                              kBlockB105.count);
    } else if (readsBlockB106(fw)) {
        r.blockB = master_.readInputRegisters(slave_, kBlockB106.firstRef, image_.b106.data(),
                                              kBlockB106.count);
    }
    if (readsBlockB113(fw)) {
        r.blockB113 = master_.readInputRegisters(slave_, kBlockB113.firstRef, image_.b113.data(),
                                                 kBlockB113.count);
    }
    r.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    decodeLiveData(image_, indicatorType_, r.blockA == 0, readsBlockB106(fw) && r.blockB == 0,
                   live_, status_);
    return r;
}

void Prober::print(std::FILE* out) const {
    std::fprintf(out, "product_type=%d\nversion=%d\nserial_number=%d\nmodbus_address=%d\n",
                 identity_.product_type, identity_.version, identity_.serial_number,
                 identity_.modbus_address);
    for (int i = 0; i < LiveData::kFieldCount; ++i)
        std::fprintf(out, "%s=%d\n", kLiveDataFieldNames[i], live_.field(i));
    std::fprintf(out, "extShutoffOk=%d\npollOk=%d\n", status_.extShutoffOk, status_.pollOk);
    std::fprintf(out, "alarm_status=%s\n", alarmStatusLine(live_, status_).c_str());
    std::fprintf(out, "mode_left_text=%s\nmode_right_text=%s\n", modeText(live_.mode_left).c_str(),
                 modeText(live_.mode_right).c_str());
}

DurationStats durationStats(std::vector<double> ms) {
    DurationStats s;
    if (ms.empty()) return s;
    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    s.median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2.0;
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
    s.p99 = ms[std::clamp<std::size_t>(rank, 1, n) - 1];
    return s;
}

std::string summaryLine(int polls, int good, const std::map<int, int>& failures,
                        const DurationStats& stats) {
    std::string line = "summary: polls=" + std::to_string(polls) + " good=" + std::to_string(good);
    for (const auto& [code, count] : failures)
        line += " fail_" + std::to_string(code) + "=" + std::to_string(count);
    char times[64];
    std::snprintf(times, sizeof times, " median_ms=%.1f p99_ms=%.1f", stats.median, stats.p99);
    return line + times;
}

bool TrafficMonitor::drain(const TrafficRing& ring) {
    batch_.clear();
    ring.readSince(last_, batch_);
    bool written = true;
    for (const TrafficFrame& f : batch_) {
        if (f.sequence > last_ + 1) lost_ += static_cast<long>(f.sequence - last_ - 1);
        last_ = f.sequence;
        ++frames_;
        ++counts_[static_cast<std::size_t>(f.verdict)];
        const std::string line = formatTrafficLine(f) + '\n';
        written = std::fputs(line.c_str(), out_) >= 0 && written;
    }
    return std::fflush(out_) == 0 && written;
}

std::string TrafficMonitor::summaryLine(const TrafficRing& ring) const {
    const long requests = count(TrafficVerdict::sent) + count(TrafficVerdict::notSent);
    std::string line =
        "monitor: frames=" + std::to_string(frames_) + " requests=" + std::to_string(requests);
    auto add = [&](int from, int to) {
        for (int v = from; v < to; ++v) {
            line += ' ';
            line += trafficVerdictName(static_cast<TrafficVerdict>(v));
            line += '=' + std::to_string(counts_[static_cast<std::size_t>(v)]);
        }
    };
    // The keys the line began with keep their places; the finer verdicts come after them.
    const int finer = static_cast<int>(TrafficVerdict::wrongSlave);
    add(static_cast<int>(TrafficVerdict::good), finer);
    line += " not-sent=" + std::to_string(count(TrafficVerdict::notSent));
    line += " lost=" + std::to_string(lost_ + static_cast<long>(ring.missed()));
    add(finer, kTrafficVerdicts);
    return line;
}

}  // namespace kvx::probe

namespace kvx::probe {
namespace {

// The settings reads go through the same code as the viewer's, which talks to a DeviceLink.
class MasterLink : public DeviceLink {
  public:
    explicit MasterLink(MbusMasterFunctions& master, bool writable = false)
        : master_(master), writable_(writable) {}
    int openConnection(const std::string&) override { return MBR_WRONG_STATE; }
    void closeConnection() override {}
    bool isConnected() const override { return master_.isConnected() != 0; }
    int setReplyTimeout(int) override { return 0; }
    int getReplyTimeout() const override { return 3000; }
    int readHoldingRegisters(int slave, int ref, std::int16_t* values, int count) override {
        return master_.readHoldingRegisters(slave, ref, values, count);
    }
    int readInputRegisters(int slave, int ref, std::int16_t* values, int count) override {
        return master_.readInputRegisters(slave, ref, values, count);
    }
    // A backup or a comparison never writes to the controller; a restore writes single
    // registers only.
    int writeSingleRegister(int slave, int ref, std::int16_t value) override {
        return writable_ ? master_.writeSingleRegister(slave, ref, value) : MBR_WRONG_STATE;
    }
    int writeMultipleRegisters(int, int, const std::int16_t*, int) override {
        return MBR_WRONG_STATE;
    }

  private:
    MbusMasterFunctions& master_;
    bool writable_;
};

std::string readFailure(const BlockRange& failed, int rc) {
    return "settings read of registers " + std::to_string(failed.first) + "-" +
           std::to_string(failed.last()) + " failed: result " + std::to_string(rc) + " (" +
           resultName(rc) + ")";
}

// Reads the controller and compares; kExitReadOrFile with error set when it cannot be done.
int compareWith(DeviceLink& link, int slave, int firmware, const SettingsFileContents& file,
                SettingsComparison& c, std::string& error) {
    BlockRange failed{};
    if (const int rc = readAndCompareSettings(link, slave, firmware, file, c, &failed); rc != 0) {
        error = readFailure(failed, rc);
        return kExitReadOrFile;
    }
    if (!c.sameFirmware()) {
        error = "the file was read from firmware " + settingsVersionText(c.fileFirmware) +
                ", the controller runs " + settingsVersionText(c.firmware) +
                ": settings are compared and restored only on the same firmware";
        return kExitReadOrFile;
    }
    return 0;
}

void printRow(std::FILE* out, const SettingsDifference& d, const std::string& last) {
    std::fprintf(out, "  %3d  %-32s %10u %10u%s%s\n", d.reference, d.name.c_str(),
                 static_cast<unsigned>(d.controller), static_cast<unsigned>(d.file),
                 last.empty() ? "" : "  ", last.c_str());
}

std::string inUnits(const SettingsDifference& d) {
    if (d.controllerShown.empty()) return {};
    return d.controllerShown + " -> " + d.fileShown;
}

void printComparison(std::FILE* out, const SettingsComparison& c) {
    std::fprintf(out, "controller: serial number %d, firmware %s\n", c.controllerSerial,
                 settingsVersionText(c.firmware).c_str());
    std::fprintf(out, "file:       serial number %d, firmware %s%s\n", c.fileSerial,
                 settingsVersionText(c.fileFirmware).c_str(),
                 c.sameSerial() ? "" : " (read from another controller)");
    std::fprintf(out, "differences: %zu\n", c.differences.size());
    if (!c.differences.empty()) {
        std::fprintf(out, "  ref  %-32s %10s %10s  %s\n", "name", "controller", "file",
                     "in units (controller -> file)");
        for (const SettingsDifference& d : c.differences)
            printRow(out, d, inUnits(d));
    }
    std::fprintf(out, "never restored: %zu\n", c.setApart.size());
    for (const SettingsDifference& d : c.setApart)
        printRow(out, d, restoreKindText(d.kind));
    if (!c.addedRows.empty()) {
        std::fprintf(out,
                     "added rows: %s (backups made before the upload read them hold 0 there, not "
                     "the controller's values)\n",
                     c.addedRows.c_str());
    }
    if (!c.notInFile.empty()) {
        std::fprintf(out,
                     "not in the file: %s (firmware %s does not give them; the "
                     "file holds 0 there)\n",
                     c.notInFile.c_str(), settingsVersionText(c.firmware).c_str());
    }
}

// The differences a restore with these options leaves alone, and how to ask for them.
void printLeftOut(std::FILE* out, const SettingsComparison& c, RestoreAsked asked) {
    std::vector<int> calibration;
    for (const SettingsDifference& d : c.differences) {
        if (d.kind == RestoreKind::Calibration && !c.sameSerial() && !asked.calibration)
            calibration.push_back(d.reference);
        if (d.kind != RestoreKind::SlaveAddress) continue;
        if (d.file < 1 || d.file > 247)
            std::fprintf(out, "modbus_address %u in the file is no slave address: not written\n",
                         static_cast<unsigned>(d.file));
        else if (!asked.slaveAddress)
            std::fprintf(out, "modbus_address not written: --include modbus_address writes it\n");
    }
    if (!c.addedRows.empty() && !asked.addedRows) {
        std::fprintf(out,
                     "added rows not written (registers %s): backups made before the upload read "
                     "them hold 0 there; --include added_rows writes them\n",
                     c.addedRows.c_str());
    }
    if (!calibration.empty()) {
        std::fprintf(out,
                     "calibration not written (registers %s): the sensor calibration of another "
                     "controller belongs to that unit; --include calibration writes it\n",
                     referenceRanges(calibration).c_str());
    }
}

}  // namespace

int backupSettings(MbusMasterFunctions& master, int slave, int firmware, const std::string& path,
                   std::string& error) {
    MasterLink link(master);
    SettingsImage image{};
    BlockRange failed{};
    if (const int rc = readSettingsImage(link, slave, firmware, image, &failed); rc != 0) {
        error = readFailure(failed, rc);
        return 1;
    }
    if (const std::string why = writeFileAtomically(path, settingsFileText(image, firmware));
        !why.empty()) {
        error = "cannot write " + cli::printable(path) + ": " + why;
        return 1;
    }
    return 0;
}

int diffSettings(MbusMasterFunctions& master, int slave, int firmware,
                 const SettingsFileContents& file, RestoreAsked asked, std::FILE* out,
                 std::string& error) {
    MasterLink link(master);
    SettingsComparison c;
    if (const int rc = compareWith(link, slave, firmware, file, c, error); rc != 0) return rc;
    printComparison(out, c);
    printLeftOut(out, c, asked);
    // A difference the restore would leave alone (the slave address, say) is no reason to
    // restore: the status follows the plan.
    return restorePlan(c, restoreChosenByDefault(c, asked)).empty() ? 0 : kExitDifferences;
}

int restoreSettings(MbusMasterFunctions& master, int slave, int firmware,
                    const SettingsFileContents& file, RestoreAsked asked, bool write,
                    std::FILE* out, std::string& error) {
    MasterLink link(master, write);
    SettingsComparison c;
    if (const int rc = compareWith(link, slave, firmware, file, c, error); rc != 0) return rc;
    printComparison(out, c);
    const std::vector<RestoreWrite> plan = restorePlan(c, restoreChosenByDefault(c, asked));
    std::fprintf(out, "plan: %zu %s%s\n", plan.size(), plan.size() == 1 ? "write" : "writes",
                 write || plan.empty() ? "" : " (nothing is written without --yes)");
    for (const RestoreWrite& w : plan) {
        for (const SettingsDifference& d : c.differences)
            if (d.reference == w.reference) printRow(out, d, inUnits(d));
    }
    printLeftOut(out, c, asked);
    if (!write || plan.empty()) return 0;

    const RestoreOutcome o = writeRestore(link, slave, firmware, plan);
    std::fprintf(out, "%s\n", restoreReport(o).c_str());
    if (!o.complete()) {
        std::fprintf(out,
                     "not saved: the written settings last until the controller is "
                     "switched off\n");
        error = "the restore did not complete";
        return kExitNotRestored;
    }
    if (const int rc = sendSaveCommand(link, o.slave); rc != 0) {
        error =
            "the save command failed: result " + std::to_string(rc) + " (" + resultName(rc) + ")";
        return kExitNotRestored;
    }
    std::fprintf(out, "saved\n");
    return 0;
}

}  // namespace kvx::probe
