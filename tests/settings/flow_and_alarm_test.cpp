// Flow control's field updates and Update All, the e-mail enablers, the acknowledgment and the
// access codes, against the scripted controller.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "settings/access_code.h"
#include "settings/alarm_screens.h"
#include "settings/flow_control_screen.h"
#include "settings/settings_texts.h"
#include "tests/support/fake_link.h"

namespace kvx {
namespace {

using test::FakeLink;
using test::LinkCall;
namespace t = settings_text;

using Write = std::tuple<char, int, int>;  // kind, reference, count or value

std::vector<Write> writesOf(const FakeLink& link) {
    std::vector<Write> w;
    for (const LinkCall& c : link.calls)
        if (c.kind == 'M' || c.kind == 'W') w.emplace_back(c.kind, c.ref, c.count);
    return w;
}

struct Flow {
    FakeLink link;
    BlockStore blocks;
    FlowControlScreen screen{{link, blocks, 1}};
    std::map<int, std::string> typed;

    explicit Flow(std::vector<int> failingReads = {}) {
        link.open = true;
        for (int r = 1; r <= 177; ++r)
            link.holding[r] = static_cast<std::int16_t>(r * 10 + 5);
        for (int f : failingReads)
            link.failHolding[f] = true;
        screen.readBlocks();
        screen.initialise();
        link.calls.clear();
    }
    std::string text(int id) {
        auto it = typed.find(id);
        return it != typed.end() ? it->second : screen.shownText(id);
    }
    void updateAll() {
        screen.updateAll([this](int id) { return text(id); });
    }
};

TEST(FlowControl, OpeningReadsFourBlocksAndUpdateAllWritesEightInOrder) {
    FakeLink link;
    link.open = true;
    BlockStore blocks;
    FlowControlScreen s({link, blocks, 1});
    s.readBlocks();
    std::vector<std::pair<int, int>> reads;
    for (const LinkCall& c : link.calls)
        reads.emplace_back(c.ref, c.count);
    EXPECT_EQ(reads, (std::vector<std::pair<int, int>>{{122, 4}, {29, 22}, {90, 22}, {174, 2}}));

    Flow f;
    f.typed[1128] = "12.6";  // low battery limit
    f.typed[1126] = "2";     // control indicator
    f.link.failWrite[90] = true;
    f.updateAll();
    const std::vector<Write> expected = {{'M', 90, 2},   {'M', 104, 7},   {'W', 122, 1225},
                                         {'W', 29, 295}, {'W', 32, 325},  {'W', 33, 335},
                                         {'W', 40, 405}, {'W', 174, 1745}};
    EXPECT_EQ(writesOf(f.link), expected);  // all tried after the first failed
    EXPECT_EQ(f.screen.status(), t::kUpdateFailed);
    const LinkCall& block = f.link.calls[1];
    EXPECT_EQ(block.values, (std::vector<std::int16_t>{1045, 1055, 1065, 126, 1085, 1095, 1105}));
    EXPECT_EQ(f.link.calls[0].values, (std::vector<std::int16_t>{2, 915}));
}

TEST(FlowControl, FieldUpdatesWriteOneRegisterByTheFieldsRule) {
    struct Case {
        int editId;
        const char* text;  // nullptr: left untouched
        int failing;       // reference whose write fails, 0 none
        std::vector<Write> writes;
        const char* status;
    };
    const Case cases[] = {
        {1128, "12.6", 0, {{'W', 107, 126}}, t::kUpdated},
        {1122, "0.29", 0, {{'W', 104, 2}}, t::kUpdated},
        {1123, "12", 0, {{'W', 105, 12}}, t::kUpdated},
        {1097, nullptr, 0, {{'W', 33, 335}}, t::kUpdated},  // shown 33.5, written as read
        {1129, "900", 174, {{'W', 174, 900}}, t::kUpdateFailed},
        {1, nullptr, 0, {}, t::kUpdated},  // the focus on a button: nothing written
    };
    for (const Case& c : cases) {
        Flow f;
        f.link.failWrite[c.failing] = c.failing != 0;
        f.screen.updateField(c.editId, c.text ? c.text : f.screen.shownText(c.editId));
        EXPECT_EQ(writesOf(f.link), c.writes) << c.editId;
        EXPECT_EQ(f.screen.status(), c.status) << c.editId;
    }
}

TEST(FlowControl, UpdatesArrivingAfterTheScreenClosedAreDropped) {
    Flow f;
    f.screen.close();
    f.screen.updateField(1128, "13.0");
    EXPECT_TRUE(writesOf(f.link).empty());
}

TEST(FlowControl, RegistersThatWereNotReadAreWrittenOnlyWhenTyped) {
    Flow f({90, 174});  // 90..111 and 174..175 unread: their fields show 0
    EXPECT_EQ(f.screen.shownText(1126), "0");
    EXPECT_NE(f.screen.status().find("90-111"), std::string::npos);
    EXPECT_NE(f.screen.status().find("174-175"), std::string::npos);
    EXPECT_EQ(f.screen.status().find("29-50"), std::string::npos);

    // Leaving an unread field untouched writes nothing.
    f.screen.updateField(1129, "0");
    EXPECT_TRUE(writesOf(f.link).empty());
    EXPECT_EQ(f.screen.status(), t::kUnreadNotWritten);

    // Update All: typed fields of an unread block go one by one (106 is never guessed), read
    // ones as usual.
    f.typed[1126] = "2";
    f.typed[1100] = "900";
    f.updateAll();
    const std::vector<Write> expected = {{'W', 90, 2},   {'W', 108, 900}, {'W', 122, 1225},
                                         {'W', 29, 295}, {'W', 32, 325},  {'W', 33, 335},
                                         {'W', 40, 405}};
    EXPECT_EQ(writesOf(f.link), expected);
    EXPECT_EQ(f.screen.status(), t::kUnreadNotWritten);
}

TEST(EmailEnablers, TogglesFlipInMemoryAndSaveWritesTheBlockThenSaves) {
    for (int failing : {0, 130, 7}) {
        FakeLink link;
        link.open = true;
        link.holding[130] = 5;
        link.holding[141] = 77;
        BlockStore blocks;
        EmailScreen s({link, blocks, 1});
        ASSERT_EQ(s.readBlock(), 0);
        EXPECT_EQ(s.caption(1120), "Enabled");
        EXPECT_EQ(s.caption(1110), "Disabled");
        s.toggle(1120);
        EXPECT_EQ(s.caption(1120), "Disabled");
        s.toggle(1120);
        EXPECT_EQ(s.value(130), 1);  // not 5 again
        s.toggle(1040);
        link.calls.clear();
        link.failWrite[failing] = failing != 0;
        EXPECT_EQ(s.saveAndClose("4464"), failing == 0);
        EXPECT_EQ(writesOf(link), (std::vector<Write>{{'M', 130, 12}, {'W', 7, 4660}}));
        EXPECT_EQ(link.calls[0].values[137 - 130], 1);
        EXPECT_EQ(link.calls[0].values[140 - 130], 4464);
        EXPECT_EQ(link.calls[0].values[141 - 130], 77);
        EXPECT_EQ(s.status(), failing == 0 ? "" : t::kSaveFailed);
    }
}

TEST(AlarmAcknowledgment, AlwaysSendsAllThreeWritesInOrder) {
    for (int failing : {0, 34, 69}) {
        FakeLink link;
        link.open = true;
        link.failWrite[failing] = failing != 0;
        EXPECT_EQ(acknowledgeAlarm(link, 1), failing == 0);
        EXPECT_EQ(writesOf(link),
                  (std::vector<Write>{{'W', 34, 1}, {'W', 69, 4660}, {'W', 34, 0}}));
    }
}

TEST(AccessCode, OnlyTheTwoCodesAsWholeNumbersOpen) {
    const std::pair<const char*, bool> cases[] = {
        {"5182", true},        {"6297", true}, {"05182", true},  {"5183", false},
        {"", false},           {"abc", false}, {"70718", false},  // 5182 + 65536
        {"4294972478", false},                                    // 5182 + 2^32
    };
    for (auto [text, ok] : cases)
        EXPECT_EQ(accessCodeAccepted(text), ok) << text;
    EXPECT_EQ(assistanceText().rfind("For assistance regarding valve settings  \nplease contact "
                                     "\n\nEngineering Department \nOrvik Corporation\n\nTel:",
                                     0),
              0u);
    EXPECT_NE(wrongPasswordText().find("\nFax:"), std::string::npos);
}

}  // namespace
}  // namespace kvx
