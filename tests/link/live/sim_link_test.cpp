// quennick-sim rings through the tower link to a local tower server: a
// ringer with no hardware tries the link from start to quit.
#include <gtest/gtest.h>

#include <filesystem>

#include "live_util.h"
#include "sim/run.h"

namespace {

using namespace qn::livetest;

TEST(SimOverLink, AFreshRunAnswersTheTowerQuestionAndRingsEveryBlowIntoTheTower) {
    TempDir t;
    ServerOptions o;
    o.events = t.file("events.jsonl");
    TowerServer server(o);
    ASSERT_GT(server.port, 0);
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(t.path);

    qn::sim::SimOptions so;
    std::string error;
    ASSERT_TRUE(qn::sim::parse_options({"--fresh", "--tower=123456789", "--server=" + server.site(), "--rows=16",
                                        "--peal-minutes=60", "--idle-s=1", "--place=3", "--quit-after=120",
                                        "--no-status"},
                                       so, error))
        << error;
    qn::sim::SimEnvironment env;
    env.embedded = true;
    env.keep_stderr = true;
    int code = -1;
    long keys = 0;
    std::string settings;
    {
        qn::sim::SimRun run(so, env);
        code = run.run();
        keys = run.target().figures().strike_keys;
        std::ifstream f(t.file(std::string(qn::kProgramVersion) + ".ini"), std::ios::binary);
        settings.assign(std::istreambuf_iterator<char>(f), {});
    }
    std::filesystem::current_path(old);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(keys, 16);
    // The ringer typed the tower and its bell into the target menu.
    EXPECT_NE(settings.find("\r\ntowerid=123456789\r\n"), std::string::npos);
    EXPECT_NE(settings.find("\r\ntowerbellj=3\r\n"), std::string::npos);
    const auto rings = events_named(t.file("events.jsonl"), "c_bell_rung");
    ASSERT_EQ(rings.size(), 16u);
    for (std::size_t i = 0; i < rings.size(); ++i) {
        EXPECT_EQ(rings[i]["data"]["bell"], 3) << i;
        EXPECT_EQ(rings[i]["data"]["tower_id"], 123456789) << i;
    }
    EXPECT_EQ(events_named(t.file("events.jsonl"), "c_user_left").size(), 1u);
}

}  // namespace
