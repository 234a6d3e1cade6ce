#pragma once
// The archive's files: each record is written at its place in the unit's copy of the agent's
// hourly file (<dir>/<site>/<serial>/<file>, header + 84 * index, the header with the file's
// first bytes), so the copy is byte for byte the agent's once every record has arrived, in any
// order. Records are told apart by (unit, seq), never by content: a seq at or below the unit's
// `through`, or already written, is skipped. flush() puts everything written on the disk, then
// advances each unit's `through` (every seq up to it is on disk) and keeps it, with the seqs
// written above it, in a state file replaced atomically.
// Only the records of known units are taken: a unit becomes known when its identity is seen
// (learn) and stays known, kept in the state file with its `through` (a file from before this
// was kept lists exactly the units that had records, which count as known).
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fleet/payloads.h"
#include "fleet/topics.h"

namespace kvx::fleet {

class ArchiveStore {
  public:
    static constexpr const char* kStateFileName = "kvx-archive.state";

    explicit ArchiveStore(std::string directory);
    ~ArchiveStore();
    ArchiveStore(const ArchiveStore&) = delete;
    ArchiveStore& operator=(const ArchiveStore&) = delete;

    // Creates the directory if needed, takes its lock (one archive per directory) and reads the
    // state file. Empty on success, else the reason.
    std::string open();

    // The unit's identity was seen: its records are taken from now on. True when it was not
    // known before; it is kept in the state file at the next flush.
    bool learn(const UnitId& unit);
    bool known(const UnitId& unit) const { return units_.count(unit) != 0; }

    enum class Outcome { Written, Duplicate, Refused };
    // Writes the record into its file (not yet flushed). Refused (reason set) when the unit is
    // not known, the record's file and the archive's copy disagree about the header, or writing
    // fails.
    Outcome add(const UnitId& unit, const RecordMessage& record, std::string& reason);

    // Flushes every file written since the last flush to the disk, advances the units'
    // `through` and writes the state file. The units whose `through` moved are put in changed.
    // Empty on success, else the reason (nothing is advanced then).
    std::string flush(std::vector<std::pair<UnitId, std::uint64_t>>& changed);
    bool hasUnflushed() const { return !dirtyFiles_.empty() || unflushedUnits_; }

    std::uint64_t through(const UnitId& unit) const;
    std::vector<std::pair<UnitId, std::uint64_t>> allThrough() const;

  private:
    struct Unit {  // a known unit
        std::uint64_t through = 0;
        std::set<std::uint64_t> held;  // written above through
    };
    struct File {
        int fd = -1;
        enum class Layout { Unknown, Header, NoHeader } layout = Layout::Unknown;
        LogHeader header{};
        std::uint64_t lastUse = 0;
    };

    std::string loadState();
    std::string saveState();
    File* openFile(const UnitId& unit, const std::string& name, std::string& reason);
    void closeIdleFiles();

    std::string dir_;
    int lockFd_ = -1;
    std::map<UnitId, Unit> units_;
    std::map<std::string, File> files_;  // by path
    std::set<std::string> dirtyFiles_;
    std::set<std::string> newDirectories_;  // whose entries must reach the disk
    bool unflushedUnits_ = false;
    std::uint64_t useCounter_ = 0;
};

}  // namespace kvx::fleet
