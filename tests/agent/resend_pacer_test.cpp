// When the agent resends what the archive stands still behind: soon for a hole while the archive
// is otherwise current, ever more rarely while a slow broker keeps it behind.
#include "agent/resend_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace kvx::agent {
namespace {

using Clock = ResendPacer::Clock;
using std::chrono::seconds;

struct Step {
    int atSecond;
    std::uint64_t through;
    std::uint64_t publishedHigh;
};

// Runs the pacer once a second (the agent's loop runs five times as often; the pause is counted
// in whole seconds) through the steps' states, each holding until the next step; returns the
// seconds at which a stand-still resend started.
std::vector<int> resendsOver(const std::vector<Step>& steps, int untilSecond) {
    const Clock::time_point t0{};
    ResendPacer pacer(0, t0);
    std::vector<int> at;
    std::size_t k = 0;
    for (int s = 0; s <= untilSecond; ++s) {
        while (k + 1 < steps.size() && steps[k + 1].atSecond <= s)
            ++k;
        const auto now = t0 + seconds(s);
        pacer.observe(steps[k].through, steps[k].publishedHigh, now);
        if (pacer.due(now)) {
            pacer.resent(now, true);
            at.push_back(s);
        }
    }
    return at;
}

TEST(ResendPacer, ResendsAHoleSoonAndASlowArchiveEverMoreRarely) {
    struct Case {
        const char* what;
        std::vector<Step> steps;
        int until;
        std::vector<int> resends;
    };
    const std::vector<Case> cases = {
        {"current archive: nothing", {{0, 50, 50}, {30, 200, 200}}, 120, {}},
        {"a hole: resent after 10 s, then every pause doubled until it is filled",
         {{0, 100, 400}, {35, 400, 400}},
         60,
         {10, 30}},
        // A broker that stalls its acknowledgements for 15 s at a time while the archive falls
        // behind: moving between stalls does not make the pause short again (a pause that did
        // would resend at 10, 25, 40, ... every stretch in flight).
        {"slow archive, stalls of 15 s",
         {{0, 100, 200},
          {15, 150, 300},
          {30, 200, 400},
          {45, 250, 500},
          {60, 300, 600},
          {75, 350, 700},
          {90, 400, 800},
          {105, 450, 900}},
         119,
         {10}},
        {"caught up in between: the next hole gets the short pause again",
         {{0, 100, 400}, {35, 400, 400}, {40, 400, 500}},
         90,
         {10, 30, 45, 65}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resendsOver(c.steps, c.until), c.resends) << c.what;
}

TEST(ResendPacer, AConnectionResendRestartsThePauseWithoutDoublingIt) {
    const Clock::time_point t0{};
    ResendPacer pacer(7, t0);
    pacer.observe(7, 20, t0 + seconds(9));
    pacer.resent(t0 + seconds(9), false);
    EXPECT_FALSE(pacer.due(t0 + seconds(18)));
    EXPECT_TRUE(pacer.due(t0 + seconds(19)));
    EXPECT_EQ(pacer.pauseSeconds(), ResendPacer::kFirstPauseSeconds);
}

}  // namespace
}  // namespace kvx::agent
