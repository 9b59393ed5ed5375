// quennick-sim rings through the tower link to a local tower server: a
// ringer with no hardware tries the link from start to quit.
#include <gtest/gtest.h>

#include <filesystem>

#include "live_util.h"
#include "sim/run.h"

namespace {

using namespace qn::livetest;

// Each ring at the tower's stroke, so the tower takes each one: hand and
// back in turn from the first (the program's own stroke starts at back), the
// two rings of a made-up missed blow included. A band's bells ring as
// themselves, in rounds, each at its own stroke.
struct SimLinkCase {
    const char* name;
    std::vector<std::string> args;
    int bells;        // ringing as themselves: 1, the ringer's bell alone
    long keys;        // strike keys of the last bell's target
    std::size_t rings;
    const char* setting;  // a line the run keeps in the settings file
};

TEST(SimOverLink, AFreshRunAnswersTheTowerQuestionAndRingsEveryBlowIntoTheTower) {
    const SimLinkCase cases[] = {
        // seed 3 misses one blow on purpose; its ring is made up
        {"one bell", {"--place=3", "--missed=0.05", "--seed=3"}, 1, 15, 16, "\r\ntowerbellj=3\r\n"},
        {"band of 6", {"--band=6"}, 6, 16, 96, "\r\ntowerid=123456789\r\n"},
    };
    for (const SimLinkCase& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir t;
        ServerOptions o;
        o.events = t.file("events.jsonl");
        TowerServer server(o);
        ASSERT_GT(server.port, 0);
        const auto old = std::filesystem::current_path();
        std::filesystem::current_path(t.path);

        qn::sim::SimOptions so;
        std::string error;
        std::vector<std::string> args{"--fresh",       "--tower=123456789", "--server=" + server.site(),
                                      "--rows=16",     "--peal-minutes=60", "--idle-s=1",
                                      "--quit-after=120", "--no-status",    "--folder=."};
        args.insert(args.end(), k.args.begin(), k.args.end());
        ASSERT_TRUE(qn::sim::parse_options(args, so, error)) << error;
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
        EXPECT_EQ(keys, k.keys);
        // The ringer typed the tower and its bell into the target menu.
        EXPECT_NE(settings.find("\r\ntowerid=123456789\r\n"), std::string::npos);
        EXPECT_NE(settings.find(k.setting), std::string::npos);
        const auto rings = events_named(t.file("events.jsonl"), "c_bell_rung");
        const auto answers = events_named(t.file("events.jsonl"), "s_bell_rung");
        ASSERT_EQ(rings.size(), k.rings);
        ASSERT_EQ(answers.size(), k.rings);
        for (std::size_t i = 0; i < rings.size(); ++i) {
            const int bell = k.bells == 1 ? 3 : static_cast<int>(i % 6) + 1;
            EXPECT_EQ(rings[i]["data"]["bell"], bell) << i;
            EXPECT_EQ(rings[i]["data"]["tower_id"], 123456789) << i;
            EXPECT_EQ(rings[i]["data"]["stroke"], (i / static_cast<std::size_t>(k.bells)) % 2 == 0) << i;
            EXPECT_EQ(answers[i]["data"]["disagree"], false) << i;
        }
        EXPECT_EQ(events_named(t.file("events.jsonl"), "c_user_left").size(), 1u);
    }
}

}  // namespace
