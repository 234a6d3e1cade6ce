// The summary and its cache file: what is written is read back the same; anything else read
// from the cache folder is refused, and the cache is used only while the log is unchanged.
#include "overview/overview_cache.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "log/log_record_check.h"
#include "overview_test_support.h"

namespace kvx {
namespace {

using test::TempDir;

class OverviewCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::useCentralEuropeanTime();
        start_ = test::utc(2026, 12, 8, 9, 0, 0);
        std::vector<LogRecord> records = test::steadyRecords(start_, 600);
        records[7].values[3] = 123456;  // one damaged record
        log_ = logs_.file(test::logNameFor(start_));
        test::writeBytes(log_, test::logBytes(records));
    }

    LogSummary summary() {
        LogSummary s;
        std::string why;
        EXPECT_TRUE(summariseLogFile(log_, s, &why)) << why;
        return s;
    }

    // A cache with nothing in memory, on the shared folder, and whether it found the summary.
    std::shared_ptr<const LogSummary> freshGet(bool& fromCache) {
        OverviewCache cache(cacheDir_.path());
        std::string why;
        auto s = cache.get(log_, &why, nullptr, &fromCache);
        EXPECT_NE(s, nullptr) << why;
        return s;
    }

    std::int64_t start_ = 0;
    TempDir logs_, cacheDir_;
    std::string log_;
};

TEST_F(OverviewCacheTest, ASummaryReadsBackAsWrittenAndEveryAlteredByteIsRefused) {
    const LogSummary s = summary();
    EXPECT_EQ(s.recordCount, 3000);
    EXPECT_EQ(s.damagedCount, 1);
    EXPECT_TRUE(s.checkedAgainstHour);
    const std::string bytes = serialiseSummary(s);
    LogSummary back;
    ASSERT_TRUE(
        parseSummary(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), back));
    EXPECT_EQ(back, s);
    // A few percent of the log.
    EXPECT_LT(bytes.size() * 20, static_cast<std::size_t>(s.fileSize));

    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string altered = bytes;
        altered[i] = static_cast<char>(altered[i] ^ 0x10);
        EXPECT_FALSE(parseSummary(reinterpret_cast<const std::uint8_t*>(altered.data()),
                                  altered.size(), back))
            << "byte " << i;
    }
    for (const std::size_t size : {std::size_t{0}, std::size_t{8}, bytes.size() - 1}) {
        EXPECT_FALSE(parseSummary(reinterpret_cast<const std::uint8_t*>(bytes.data()), size, back))
            << size;
    }
    const std::string longer = bytes + '\0';
    EXPECT_FALSE(
        parseSummary(reinterpret_cast<const std::uint8_t*>(longer.data()), longer.size(), back));
}

// Summaries whose bytes are whole and checksummed but whose content cannot be a log's: the
// reader checks the content too, not only the checksum.
TEST_F(OverviewCacheTest, ASummaryThatCannotDescribeALogIsRefused) {
    const std::vector<std::pair<const char*, std::function<void(LogSummary&)>>> faults = {
        {"records do not fit the size", [](LogSummary& s) { s.recordCount += 1; }},
        {"trailing bytes do not fit", [](LogSummary& s) { s.trailingBytes = 3; }},
        {"header of 39 bytes", [](LogSummary& s) { s.headerSize = 39; }},
        {"more damaged than records", [](LogSummary& s) { s.damagedCount = s.recordCount + 1; }},
        {"buckets overlap", [](LogSummary& s) { s.buckets[1].firstRecord -= 1; }},
        {"a bucket holds nothing", [](LogSummary& s) { s.buckets[0].count = 0; }},
        {"more damaged than in the bucket",
         [](LogSummary& s) { s.buckets[0].damaged = s.buckets[0].count + 1; }},
        {"low above high", [](LogSummary& s) { s.buckets[2].low[4] = s.buckets[2].high[4] + 1; }},
        {"time runs back in a bucket",
         [](LogSummary& s) { s.buckets[2].lastTime = s.buckets[2].firstTime - 1; }},
        {"a time before 1980", [](LogSummary& s) { s.buckets[2].firstTime = 1000; }},
        {"records left out", [](LogSummary& s) { s.buckets.pop_back(); }},
    };
    for (const auto& [what, fault] : faults) {
        LogSummary s = summary();
        fault(s);
        const std::string bytes = serialiseSummary(s);
        LogSummary back;
        EXPECT_FALSE(
            parseSummary(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), back))
            << what;
    }
}

TEST_F(OverviewCacheTest, TheCacheHoldsWhileTheLogIsUnchangedAndIsRebuiltOtherwise) {
    bool fromCache = true;
    const auto first = freshGet(fromCache);
    EXPECT_FALSE(fromCache);
    EXPECT_EQ(first->recordCount, 3000);
    // Kept on disk in the cache folder, never beside the log.
    OverviewCache cache(cacheDir_.path());
    EXPECT_TRUE(std::filesystem::exists(cache.cacheFilePath(log_)));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(logs_.path()),
                            std::filesystem::directory_iterator()),
              1);
    freshGet(fromCache);
    EXPECT_TRUE(fromCache);
    // Held in memory: the same summary, even with the cache file gone.
    std::string why;
    const auto once = cache.get(log_, &why);
    std::filesystem::remove(cache.cacheFilePath(log_));
    EXPECT_EQ(cache.get(log_, &why, nullptr, &fromCache), once);
    EXPECT_TRUE(fromCache);

    // The current hour grows: its new records are seen.
    std::vector<std::uint8_t> more = test::readBytes(log_);
    const std::vector<std::uint8_t> tail =
        test::logBytes(test::steadyRecords(start_ + 600, 60), false);
    more.insert(more.end(), tail.begin(), tail.end());
    test::writeBytes(log_, more);
    EXPECT_EQ(freshGet(fromCache)->recordCount, 3300);
    EXPECT_FALSE(fromCache);
    // The cache that held the old summary in memory no longer gives it.
    EXPECT_EQ(cache.get(log_, &why)->recordCount, 3300);

    // The same size with other values and another time: summarised again.
    test::writeBytes(log_, test::logBytes(test::steadyRecords(
                               start_, 660, 5, [](int f) { return f == 15 ? 2222 : 0; })));
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(start_ + 5000), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, log_.c_str(), times, 0), 0);
    const auto changed = freshGet(fromCache);
    EXPECT_FALSE(fromCache);
    EXPECT_EQ(changed->buckets[0].high[15], 2222);
}

TEST_F(OverviewCacheTest, ADamagedOrForeignCacheFileIsIgnoredAndWrittenAgain) {
    bool fromCache = false;
    const LogSummary good = *freshGet(fromCache);
    const std::string file = OverviewCache(cacheDir_.path()).cacheFilePath(log_);
    const std::string valid = [&] {
        const std::vector<std::uint8_t> b = test::readBytes(file);
        return std::string(b.begin(), b.end());
    }();
    // The summary of another log with this log's size and time, put in its place.
    LogSummary other = good;
    other.source = logs_.file("log_2026_12_8_11.log");
    const std::string foreign = serialiseSummary(other);

    const std::vector<std::pair<const char*, std::string>> corruptions = {
        {"empty", ""},
        {"cut", valid.substr(0, valid.size() / 2)},
        {"a byte changed",
         [&] {
             std::string b = valid;
             b[b.size() / 2] ^= 1;
             return b;
         }()},
        {"not a summary", std::string(4000, 'x')},
        {"another log's", foreign},
    };
    for (const auto& [what, bytes] : corruptions) {
        SCOPED_TRACE(what);
        test::writeBytes(file, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        const auto s = freshGet(fromCache);
        EXPECT_FALSE(fromCache);
        EXPECT_EQ(*s, good);
        freshGet(fromCache);
        EXPECT_TRUE(fromCache) << "written again";
    }
}

TEST_F(OverviewCacheTest, ACacheFolderThatCannotBeWrittenLeavesTheSummaryInMemory) {
    const std::string notAFolder = cacheDir_.file("plain-file");
    test::writeBytes(notAFolder, {1});
    OverviewCache cache(notAFolder + "/overview");
    std::string why;
    bool fromCache = true;
    const auto s = cache.get(log_, &why, nullptr, &fromCache);
    ASSERT_NE(s, nullptr) << why;
    EXPECT_FALSE(fromCache);
    EXPECT_EQ(cache.get(log_, &why, nullptr, &fromCache), s);
    EXPECT_TRUE(fromCache);
}

// The quick judge of a file's records says what log_record_check says of each, whatever order
// the times come in (it remembers the span of times near the hour), and a renamed file (no
// record in the hour of its name) is judged without the hour, as kvx-log judges it.
TEST_F(OverviewCacheTest, RecordsAreJudgedAsTheLogCheckJudgesThem) {
    LogFileHour hour;
    ASSERT_TRUE(parseLogFileName(log_, hour));
    std::vector<std::int64_t> times;
    for (std::int64_t t = start_ - 400; t < start_ + 3600 + 400; ++t)
        times.push_back(t);
    std::vector<std::int64_t> shuffled = times;
    std::uint32_t seed = 99;
    for (std::size_t i = shuffled.size(); i > 1; --i) {
        seed = seed * 1103515245u + 12345u;
        std::swap(shuffled[i - 1], shuffled[(seed >> 8) % i]);
    }
    for (const auto* order : {&times, &shuffled}) {
        DamageJudge judge(log_, true);
        int disagreements = 0;
        for (const std::int64_t t : *order)
            disagreements += judge.plausible(test::recordAt(t)) !=
                             isPlausibleLogRecord(test::recordAt(t), &hour, nullptr);
        EXPECT_EQ(disagreements, 0);
    }

    const std::string renamed = logs_.file("log_2026_12_8_15.log");
    std::filesystem::copy_file(log_, renamed);
    LogSummary s;
    std::string why;
    ASSERT_TRUE(summariseLogFile(renamed, s, &why)) << why;
    EXPECT_FALSE(s.checkedAgainstHour);
    EXPECT_EQ(s.damagedCount, 1);  // only the record with a value no register holds
}

}  // namespace
}  // namespace kvx
