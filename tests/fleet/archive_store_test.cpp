// The archive's store: records land at their place whatever the order, a unit's `through`
// advances only over records on the disk with no gap, duplicates are told by (unit, seq) alone,
// and what it keeps survives a new start.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fleet/archive_store.h"
#include "fleet/payloads.h"
#include "log/log_format.h"

namespace kvx::fleet {
namespace {

namespace fs = std::filesystem;
using Outcome = ArchiveStore::Outcome;
using testing::HasSubstr;

const UnitId kUnit{"north", 2417};
const UnitId kOther{"south", 7};

struct Dir {
    std::string path;
    Dir() {
        std::string p = (fs::temp_directory_path() / "kvx-store-XXXXXX").string();
        path = ::mkdtemp(p.data()) ? p : "";
    }
    ~Dir() { fs::remove_all(path); }
};

// Record seq of a file; every record is different, and seq k sits at index k - 1.
RecordMessage record(std::uint64_t seq, bool header = true,
                     const std::string& file = "log_2026_12_8_21.log") {
    RecordMessage m;
    m.seq = seq;
    m.file = file;
    if (header) m.header = makeLogHeader(117);
    m.index = static_cast<std::uint32_t>(seq - 1);
    LogRecord r;
    r.time = 1796763600 + static_cast<std::int32_t>(seq / 5);  // one-second times repeat
    for (int k = 0; k < kLogValueCount; ++k)
        r.values[k] = static_cast<std::int32_t>(seq * 3 + k);
    setRecord(m, r);
    return m;
}

std::string expectedFile(int count, bool header = true) {
    std::string bytes;
    if (header) {
        const LogHeader h = makeLogHeader(117);
        bytes.assign(h.begin(), h.end());
    }
    for (int seq = 1; seq <= count; ++seq) {
        const RecordMessage m = record(seq, header);
        bytes.append(m.raw.begin(), m.raw.end());
    }
    return bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

using Changed = std::vector<std::pair<UnitId, std::uint64_t>>;

TEST(ArchiveStore, ThroughAdvancesOverGaplessFlushedRecordsOnlyAndDuplicatesAreSkipped) {
    Dir dir;
    ArchiveStore store(dir.path);
    ASSERT_EQ(store.open(), "");
    store.learn(kUnit);
    store.learn(kOther);
    std::string why;
    // Each step: what is added, then through after a flush.
    const struct {
        std::vector<std::uint64_t> add;
        std::vector<Outcome> outcomes;
        std::uint64_t through;
    } steps[] = {
        {{3, 5}, {Outcome::Written, Outcome::Written}, 0},
        {{1, 3}, {Outcome::Written, Outcome::Duplicate}, 1},  // 3 is held above through
        {{2, 1}, {Outcome::Written, Outcome::Duplicate}, 3},  // 1 is at or below through
        {{4}, {Outcome::Written}, 5},
        {{5, 2, 6}, {Outcome::Duplicate, Outcome::Duplicate, Outcome::Written}, 6},
    };
    std::uint64_t before = 0;
    for (const auto& step : steps) {
        for (std::size_t i = 0; i < step.add.size(); ++i)
            EXPECT_EQ(store.add(kUnit, record(step.add[i]), why), step.outcomes[i]) << why;
        EXPECT_EQ(store.through(kUnit), before);  // nothing counts before it is flushed
        Changed changed;
        ASSERT_EQ(store.flush(changed), "");
        EXPECT_EQ(store.through(kUnit), step.through);
        before = step.through;
    }
    // Same content under another unit is another record.
    EXPECT_EQ(store.add(kOther, record(1), why), Outcome::Written);
    Changed changed;
    ASSERT_EQ(store.flush(changed), "");
    EXPECT_EQ(changed, (Changed{{kOther, 1}}));
    EXPECT_EQ(readFile(dir.path + "/north/2417/log_2026_12_8_21.log"), expectedFile(6));
    EXPECT_EQ(readFile(dir.path + "/south/7/log_2026_12_8_21.log"), expectedFile(1));
}

TEST(ArchiveStore, OutOfOrderRecordsRebuildTheFileWithOrWithoutHeader) {
    for (bool header : {true, false}) {
        Dir dir;
        ArchiveStore store(dir.path);
        ASSERT_EQ(store.open(), "");
        store.learn(kUnit);
        std::string why;
        for (std::uint64_t seq : {7, 2, 9, 1, 3, 8, 4, 6, 5})
            ASSERT_EQ(store.add(kUnit, record(seq, header), why), Outcome::Written) << why;
        Changed changed;
        ASSERT_EQ(store.flush(changed), "");
        EXPECT_EQ(changed, (Changed{{kUnit, 9}}));
        EXPECT_EQ(readFile(dir.path + "/north/2417/log_2026_12_8_21.log"), expectedFile(9, header))
            << header;
    }
}

TEST(ArchiveStore, ARecordThatDisagreesWithTheFilesHeaderIsRefused) {
    Dir dir;
    ArchiveStore store(dir.path);
    ASSERT_EQ(store.open(), "");
    store.learn(kUnit);
    store.learn(kOther);
    std::string why;
    ASSERT_EQ(store.add(kUnit, record(2), why), Outcome::Written);
    EXPECT_EQ(store.add(kUnit, record(1, false), why), Outcome::Refused);
    EXPECT_THAT(why, HasSubstr("has no header"));
    RecordMessage otherHeader = record(3);
    otherHeader.header = makeLogHeader(113);
    EXPECT_EQ(store.add(kUnit, otherHeader, why), Outcome::Refused);
    EXPECT_THAT(why, HasSubstr("another header"));
    // A headerless file found on the disk at a new start keeps its layout.
    ASSERT_EQ(store.add(kUnit, record(4, false, "log_2026_12_8_22.log"), why), Outcome::Written);
    Changed changed;
    ASSERT_EQ(store.flush(changed), "");
    const std::string first = readFile(dir.path + "/north/2417/log_2026_12_8_21.log");
    EXPECT_EQ(first.size(), static_cast<std::size_t>(kLogHeaderSize + 2 * kLogRecordSize));
}

TEST(ArchiveStore, WhatIsKeptSurvivesANewStartAndOneArchivePerDirectory) {
    Dir dir;
    std::string why;
    {
        ArchiveStore store(dir.path);
        ASSERT_EQ(store.open(), "");
        store.learn(kUnit);
        for (std::uint64_t seq : {1, 2, 4})
            ASSERT_EQ(store.add(kUnit, record(seq), why), Outcome::Written);
        Changed changed;
        ASSERT_EQ(store.flush(changed), "");
        ArchiveStore second(dir.path);
        EXPECT_THAT(second.open(), HasSubstr("another kvx-archive"));
    }
    ArchiveStore again(dir.path);
    ASSERT_EQ(again.open(), "");
    EXPECT_EQ(again.through(kUnit), 2u);
    for (std::uint64_t seq : {2, 4})
        EXPECT_EQ(again.add(kUnit, record(seq), why), Outcome::Duplicate);
    EXPECT_EQ(again.add(kUnit, record(3), why), Outcome::Written);
    Changed changed;
    ASSERT_EQ(again.flush(changed), "");
    EXPECT_EQ(changed, (Changed{{kUnit, 4}}));
    EXPECT_EQ(readFile(dir.path + "/north/2417/log_2026_12_8_21.log"), expectedFile(4));
}

TEST(ArchiveStore, OnlyKnownUnitsAreTakenAndTheyStayKnownAcrossANewStart) {
    Dir dir;
    // A state file kept before units were learnt: the units it holds `through` for are known.
    std::ofstream(dir.path + "/kvx-archive.state") << "kvx-archive-state 1\nnorth 2417 3 5\n";
    const UnitId fresh{"east", 12};
    std::string why;
    {
        ArchiveStore store(dir.path);
        ASSERT_EQ(store.open(), "");
        EXPECT_TRUE(store.known(kUnit));
        EXPECT_EQ(store.add(kUnit, record(4), why), Outcome::Written) << why;
        for (const UnitId& unit : {kOther, fresh}) {
            EXPECT_EQ(store.add(unit, record(1), why), Outcome::Refused);
            EXPECT_THAT(why, HasSubstr(unitName(unit) + ", a unit whose identity"));
        }
        EXPECT_TRUE(store.learn(fresh));
        EXPECT_FALSE(store.learn(kUnit));
        // Learnt with no record yet: kept all the same.
        Changed changed;
        ASSERT_EQ(store.flush(changed), "");
        EXPECT_EQ(changed, (Changed{{kUnit, 5}}));
    }
    EXPECT_FALSE(fs::exists(dir.path + "/south")) << "nothing written for an unknown unit";
    ArchiveStore again(dir.path);
    ASSERT_EQ(again.open(), "");
    EXPECT_TRUE(again.known(fresh));
    EXPECT_TRUE(again.known(kUnit));
    EXPECT_FALSE(again.known(kOther));
    EXPECT_EQ(again.through(kUnit), 5u);
    EXPECT_EQ(again.add(fresh, record(1), why), Outcome::Written) << why;
}

TEST(ArchiveStore, ADamagedStateFileIsRefusedNotReset) {
    for (const char* text : {"", "something else\n", "kvx-archive-state 1\nnorth x 3\n",
                             "kvx-archive-state 1\nno/rth 1 3\n", "kvx-archive-state 1\nnorth 1\n",
                             "kvx-archive-state 1\nnorth 1 5 4\n"}) {
        Dir dir;
        std::ofstream(dir.path + "/kvx-archive.state") << text;
        ArchiveStore store(dir.path);
        EXPECT_THAT(store.open(), HasSubstr("state file")) << text;
    }
}

}  // namespace
}  // namespace kvx::fleet
