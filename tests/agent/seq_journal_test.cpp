// The sequence-number journal: numbers follow the records through file changes, a restart (a
// kill between a record and its publication included) continues without a repeat, a record
// given a number is found again in its file, and a damaged journal is refused rather than
// numbering records twice.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "agent/fleet_publisher.h"
#include "agent/seq_journal.h"
#include "log/log_format.h"

namespace fs = std::filesystem;

namespace kvx::agent {
namespace {

class SeqJournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kvx-journal-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "logs");
        fs::create_directories(dir / "state");
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string log(const std::string& name) { return (dir / "logs" / name).string(); }
    // Appends records whose time field is their stamp, a header first into an empty file.
    void append(const std::string& name, std::vector<int> stamps, bool header = true) {
        std::ofstream out(log(name), std::ios::binary | std::ios::app);
        if (header && fs::file_size(log(name)) == 0) {
            const LogHeader h = makeLogHeader(117);
            out.write(reinterpret_cast<const char*>(h.data()), h.size());
        }
        for (int stamp : stamps) {
            LogRecord r;
            r.time = stamp;
            r.values[0] = stamp * 3;
            std::uint8_t bytes[kLogRecordSize];
            encodeLogRecord(r, bytes);
            out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
        }
    }
    void opened(SeqJournal& j, const std::string& name) {
        std::ofstream(log(name), std::ios::app).close();
        std::string why;
        ASSERT_TRUE(j.fileOpened(log(name), why)) << why;
    }
    bool openJournal(SeqJournal& j, std::string& why) {
        return j.open((dir / "state").string(), (dir / "logs").string(), why);
    }
    std::string journalText() {
        std::ifstream in(dir / "state" / SeqJournal::kFileName);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static std::vector<std::int64_t> seqs(const std::vector<LoggedRecord>& rs) {
        std::vector<std::int64_t> out;
        for (const auto& r : rs)
            out.push_back(r.seq);
        return out;
    }

    fs::path dir;
};

const std::string A = "log_2026_12_8_21.log", B = "log_2026_12_8_22.log";

TEST_F(SeqJournalTest, NumbersRunsAcrossFilesRestartsAndFindsEveryRecordAgain) {
    {
        SeqJournal j;
        std::string why;
        ASSERT_TRUE(openJournal(j, why)) << why;
        EXPECT_EQ(j.nextSeq(), 1);
        opened(j, A);
        append(A, {100, 101, 102});
        EXPECT_EQ(seqs(j.collect()), (std::vector<std::int64_t>{1, 2, 3}));
        // The same file opened again where the run stands: no new line.
        opened(j, A);
        append(A, {103, 104});
        // The next hour's file already holds two records of another program: they get none.
        append(B, {1, 2});
        opened(j, B);
        append(B, {200});
        const std::vector<LoggedRecord> got = j.collect();
        EXPECT_EQ(seqs(got), (std::vector<std::int64_t>{4, 5, 6}));
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[1].file, A);
        EXPECT_EQ(got[1].index, 4);
        EXPECT_EQ(decodeLogRecord(got[1].raw.data()).time, 104);
        EXPECT_EQ(got[2].file, B);
        EXPECT_EQ(got[2].index, 2);
        ASSERT_TRUE(got[2].header.has_value());
        EXPECT_EQ(*got[2].header, makeLogHeader(117));
        // Logged, then killed before they were collected (or published).
        append(B, {201, 202});
    }
    EXPECT_EQ(journalText(), "1 " + A + " 0\n6 " + B + " 2\n");
    SeqJournal j;
    std::string why;
    ASSERT_TRUE(openJournal(j, why)) << why;
    EXPECT_EQ(j.nextSeq(), 9);  // 7 and 8 are the two records logged before the kill
    opened(j, B);               // the restart continues the file
    append(B, {203});
    EXPECT_EQ(seqs(j.collect()), (std::vector<std::int64_t>{9}));
    // An earlier hour's file again (the clock set back): a run of its own.
    opened(j, A);
    append(A, {105});
    EXPECT_EQ(seqs(j.collect()), (std::vector<std::int64_t>{10}));
    EXPECT_EQ(journalText(), "1 " + A + " 0\n6 " + B + " 2\n10 " + A + " 5\n");

    // Every number given maps back to its record.
    const std::pair<std::int64_t, int> expected[] = {{1, 100}, {5, 104}, {6, 200}, {7, 201},
                                                     {8, 202}, {9, 203}, {10, 105}};
    for (auto [seq, stamp] : expected) {
        LoggedRecord r;
        ASSERT_TRUE(j.read(seq, r, why)) << seq << ": " << why;
        EXPECT_EQ(decodeLogRecord(r.raw.data()).time, stamp) << seq;
    }
    LoggedRecord r;
    EXPECT_FALSE(j.read(11, r, why));
    EXPECT_FALSE(j.read(0, r, why));
    // A file cut back by someone no longer holds its records: said, not made up.
    fs::resize_file(log(B), kLogHeaderSize + 3 * kLogRecordSize);
    EXPECT_FALSE(j.read(7, r, why));
    EXPECT_NE(why.find("no longer holds"), std::string::npos) << why;
}

TEST_F(SeqJournalTest, NumbersSkipPastWhatTheArchiveHoldsWhenTheJournalWasLost) {
    SeqJournal j;
    std::string why;
    ASSERT_TRUE(openJournal(j, why)) << why;
    // Before any run: the first line starts where the archive stands.
    ASSERT_TRUE(j.skipTo(501, why)) << why;
    opened(j, A);
    append(A, {100, 101});
    EXPECT_EQ(seqs(j.collect()), (std::vector<std::int64_t>{501, 502}));
    // Mid-run: logged records keep their numbers, the next one starts the new run.
    append(A, {102});
    ASSERT_TRUE(j.skipTo(900, why)) << why;
    EXPECT_TRUE(j.skipTo(5, why));  // never backwards
    EXPECT_EQ(j.nextSeq(), 900);
    append(A, {103});
    EXPECT_EQ(seqs(j.collect()), (std::vector<std::int64_t>{503, 900}));
    SeqJournal k;
    ASSERT_TRUE(openJournal(k, why)) << why;
    EXPECT_EQ(k.nextSeq(), 901);
    LoggedRecord r;
    ASSERT_TRUE(k.read(900, r, why)) << why;
    EXPECT_EQ(decodeLogRecord(r.raw.data()).time, 103);
    ASSERT_TRUE(k.read(503, r, why)) << why;
    EXPECT_EQ(decodeLogRecord(r.raw.data()).time, 102);
}

TEST_F(SeqJournalTest, ALineCutByACrashIsDroppedAndADamagedOneRefused) {
    const fs::path path = dir / "state" / SeqJournal::kFileName;
    append(A, {100, 101});
    { std::ofstream(path) << "1 " << A << " 0\n3 " << B << " "; }
    SeqJournal j;
    std::string why;
    ASSERT_TRUE(openJournal(j, why)) << why;
    EXPECT_EQ(j.nextSeq(), 3);
    EXPECT_EQ(journalText(), "1 " + A + " 0\n");

    const char* damaged[] = {
        "1 "
        "log_2026_12_8_21.log"
        " 0\nx y z\n",
        "5 log_2026_12_8_21.log 0\n2 log_2026_12_8_22.log 0\n", "1 ../../etc/passwd 0\n",
        "1 log_2026_12_8_21.log -3\n"};
    for (const char* text : damaged) {
        std::ofstream(path, std::ios::trunc) << text;
        SeqJournal k;
        EXPECT_FALSE(openJournal(k, why)) << text;
        EXPECT_NE(why.find("line"), std::string::npos) << why;
    }
}

TEST_F(SeqJournalTest, ThePlaceFileIsWrittenWholeAndADamagedOneRefusedWithItsLine) {
    const std::string state = (dir / "state").string();
    AgentState s;
    std::string why;
    ASSERT_TRUE(readAgentState(state, s, why)) << why;  // none yet: a first start
    EXPECT_FALSE(s.serialKnown);
    s.serial = 2417;
    s.serialKnown = true;
    s.through = 123456789012;
    ASSERT_TRUE(writeAgentState(state, s, why)) << why;
    EXPECT_FALSE(fs::exists(dir / "state" / "agent.state.tmp"));
    AgentState back;
    ASSERT_TRUE(readAgentState(state, back, why)) << why;
    EXPECT_TRUE(back.serialKnown);
    EXPECT_EQ(back.serial, 2417u);
    EXPECT_EQ(back.through, 123456789012u);

    const std::pair<const char*, const char*> damaged[] = {
        {"serial = 2417\nthrough = -4\n", "line 2: through"},
        {"serial = 99999999999\n", "line 1: serial"},
        {"# ok\nthrough = 9007199254740992\n", "line 2: through"},
        {"through 12\n", "line 1"},
    };
    for (auto [text, expected] : damaged) {
        std::ofstream(dir / "state" / "agent.state", std::ios::trunc) << text;
        AgentState t;
        EXPECT_FALSE(readAgentState(state, t, why)) << text;
        EXPECT_NE(why.find(expected), std::string::npos) << text << " gave: " << why;
    }
}

}  // namespace
}  // namespace kvx::agent
