#pragma once
// What kvx-probe does, apart from its command line: connect and poll as the viewer does, and
// judge a line over many polls.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "link/mbus_master_functions.h"
#include "link/traffic_record.h"
#include "model/live_data.h"
#include "settings/settings_file_reader.h"
#include "settings/settings_restore.h"

namespace kvx::probe {

struct ProbeOptions {
    std::string port;
    int slave = 1;
    int polls = 1;
    std::string dataDir;              // where COMn links live; empty: the viewer's default
    std::string settingsCsv;          // back the settings up into this file instead of polling
    std::string settingsDiff;         // compare the controller with this settings file
    std::string settingsRestore;      // restore this settings file onto the controller
    bool yes = false;                 // restore: write; without it the plan is printed only
    bool includeAddress = false;      // restore: modbus_address too
    bool includeCalibration = false;  // restore: another controller's sensor calibration too
    bool includeAddedRows = false;    // restore: the rows older backups hold as 0 too
    bool monitor = false;             // print every frame with the master's verdict
    std::string monitorFile;          // the frames into this file instead of standard output
    bool help = false;
    bool version = false;
};
bool parseProbeOptions(int argc, const char* const* argv, ProbeOptions& options,
                       std::string& error);
std::string probeUsage();

// The device-link result code by name ("MBR_REPLY_TIMEOUT", "MBR_EXCEPTION|2").
std::string resultName(int result);

// Why the port did not open, from the errno behind it: one line, or two when the fix is the
// user's group membership. `device` is the path that was tried.
std::string openFailureText(const std::string& device, int error);

// The outcome of one poll: the reads of the viewer's poll tick, for the firmware version.
struct PollResult {
    int blockA = -1, blockB = -1, blockB113 = -1;  // -1: not read for this firmware
    double ms = 0;
    bool good() const { return blockA == 0 && blockB <= 0; }
    // The first failing read's code, 0 when all went well.
    int failure() const;
};

class Prober {
  public:
    explicit Prober(MbusMasterFunctions& master, int slave) : master_(master), slave_(slave) {}

    // Identity, then the two range reads (their results are ignored, as the viewer does).
    int connect();
    PollResult poll();
    void print(std::FILE* out) const;

    const DeviceIdentity& identity() const { return identity_; }

  private:
    MbusMasterFunctions& master_;
    int slave_;
    DeviceIdentity identity_;
    int indicatorType_ = 0;
    InputImage image_;
    LiveData live_;
    LiveStatus status_;
};

// Reads the settings as the viewer's Upload Settings does for the firmware version and writes
// the same file bytes to path. 0, else 1 with error set to a one-line reason; on failure no
// file is left at path (an existing one is untouched).
int backupSettings(MbusMasterFunctions& master, int slave, int firmware, const std::string& path,
                   std::string& error);

// Exit codes of --settings-diff and --settings-restore.
inline constexpr int kExitDifferences = 1;  // diff: the controller differs from the file
inline constexpr int kExitReadOrFile = 3;   // the port, a read, the file, or its firmware
inline constexpr int kExitNotRestored = 4;  // restore: a write, the read-back or the save failed

// Compares the controller with the file and prints the table to out. 0 when a restore with
// the same options would write nothing, kExitDifferences when it would, kExitReadOrFile with
// error set when the controller could not be read or the file is of another firmware.
int diffSettings(MbusMasterFunctions& master, int slave, int firmware,
                 const SettingsFileContents& file, RestoreAsked asked, std::FILE* out,
                 std::string& error);

// Compares, prints the plan (the slave address and another controller's calibration only when
// asked for) and, when write is set, writes it, reads it back and sends the
// save command if every register holds its value. 0, kExitReadOrFile or kExitNotRestored.
int restoreSettings(MbusMasterFunctions& master, int slave, int firmware,
                    const SettingsFileContents& file, RestoreAsked asked, bool write,
                    std::FILE* out, std::string& error);

// Median and 99th percentile (nearest rank) of the poll durations, in milliseconds.
struct DurationStats {
    double median = 0, p99 = 0;
};
DurationStats durationStats(std::vector<double> ms);

// "summary: polls=N good=G fail_132=K ... median_ms=M p99_ms=P"
std::string summaryLine(int polls, int good, const std::map<int, int>& failures,
                        const DurationStats& stats);

// Writes the frames the ring has recorded since the last call, one line each
// (formatTrafficLine), and counts the master's verdicts for the summary.
class TrafficMonitor {
  public:
    explicit TrafficMonitor(std::FILE* out) : out_(out) {}

    // False when writing failed (the disk is full): the lines are then not all there.
    bool drain(const TrafficRing& ring);
    // "monitor: frames=F requests=R good=G timeout=T bad-crc=C mismatch=M exception=E
    // io-failure=I passed-over=P not-sent=N lost=L wrong-slave=S wrong-function=F truncated=T
    // echo=E noise=N": every verdict, 0 included, so a script finds each key; lost counts
    // frames overwritten before they were read or not recorded.
    std::string summaryLine(const TrafficRing& ring) const;
    long count(TrafficVerdict verdict) const { return counts_[static_cast<std::size_t>(verdict)]; }

  private:
    std::FILE* out_;
    std::uint64_t last_ = 0;
    long frames_ = 0;
    long lost_ = 0;
    std::array<long, kTrafficVerdicts> counts_{};
    std::vector<TrafficFrame> batch_;
};

}  // namespace kvx::probe
