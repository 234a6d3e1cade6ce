// The topic layout: what is built parses back, and every topic that does not fit is refused.
#include <gtest/gtest.h>

#include "fleet/topics.h"

namespace kvx::fleet {
namespace {

TEST(FleetTopics, BuiltTopicsParseBack) {
    for (TopicKind kind : {TopicKind::Record, TopicKind::Identity, TopicKind::Status,
                           TopicKind::Alarm, TopicKind::Archived}) {
        for (const UnitId& unit : {UnitId{"north-field_7", 2417}, UnitId{"a", 0},
                                   UnitId{std::string(64, 'Z'), 4294967295u}}) {
            const std::string topic = topicFor(unit, kind);
            const auto parsed = parseTopic(topic);
            ASSERT_TRUE(parsed) << topic << ": " << parsed.reason;
            EXPECT_EQ(parsed->unit, unit);
            EXPECT_EQ(parsed->kind, kind);
        }
    }
    EXPECT_EQ(topicFor({"site1", 12}, TopicKind::Record), "kvx/site1/12/record");
    EXPECT_EQ(topicFilter(TopicKind::Record), "kvx/+/+/record");
}

TEST(FleetTopics, TopicsOutsideTheLayoutAreRefused) {
    const struct {
        const char* topic;
        const char* why;  // part of the reason
    } cases[] = {
        {"", "kvx/"},
        {"kvx", "kvx/"},
        {"KVX/site/1/record", "kvx/"},
        {"/kvx/site/1/record", "kvx/"},
        {"kvx//1/record", "empty"},
        {"kvx/+/1/record", "letters"},
        {"kvx/#", "letters"},
        {"kvx/si te/1/record", "letters"},
        {"kvx/sité/1/record", "letters"},
        {"kvx/site", "serial"},
        {"kvx/site/", "serial"},
        {"kvx/site/01/record", "leading zeros"},
        {"kvx/site/-1/record", "decimal"},
        {"kvx/site/1x/record", "decimal"},
        {"kvx/site/4294967296/record", "above"},
        {"kvx/site/99999999999/record", "decimal"},
        {"kvx/site/1", "kind"},
        {"kvx/site/1/", "kind"},
        {"kvx/site/1/records", "kind"},
        {"kvx/site/1/record/", "after"},
        {"kvx/site/1/record/x", "after"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseTopic(c.topic);
        EXPECT_FALSE(parsed) << c.topic;
        EXPECT_NE(parsed.reason.find(c.why), std::string::npos)
            << c.topic << " gave: " << parsed.reason;
    }
    EXPECT_FALSE(parseTopic("kvx/" + std::string(65, 'a') + "/1/record"));
}

}  // namespace
}  // namespace kvx::fleet
