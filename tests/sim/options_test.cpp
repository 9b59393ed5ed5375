// quennick-sim's command line.
#include <gtest/gtest.h>

#include "platform/serial.h"
#include "sim/options.h"

namespace qn::sim {
namespace {

using platform::sim::InputMode;
using platform::sim::SensorStyle;

bool parse(std::vector<std::string> args, SimOptions& o, std::string& error) { return parse_options(args, o, error); }

TEST(SimOptions, SetTheBellTheRingingTheFaultsAndTheRun) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--sensors=2", "--line", "DSR", "--style=rest-on", "--bells=6", "--place=6", "--rows=720",
                       "--touch-rows=40-80", "--bounce=0.3", "--missed=0.01", "--seed", "42", "--virtual",
                       "--interactive", "--fresh", "/A", "--on-at-start"},
                      o, error))
        << error;
    EXPECT_EQ(o.bell.sensors, 2);
    EXPECT_EQ(o.bell.line, platform::kLineDsr);
    EXPECT_EQ(o.bell.style, SensorStyle::RestOn);
    EXPECT_EQ(o.plan.rhythm.bells, 6);
    EXPECT_EQ(o.plan.rhythm.place, 6);
    EXPECT_EQ(o.plan.rows, 720);
    EXPECT_EQ(o.plan.touch_min, 40);
    EXPECT_EQ(o.plan.touch_max, 80);
    EXPECT_DOUBLE_EQ(o.bell.faults.bounce, 0.3);
    EXPECT_DOUBLE_EQ(o.bell.faults.missed, 0.01);
    EXPECT_EQ(o.bell.faults.on_at_start, 1);
    EXPECT_EQ(o.bell.seed, 42u);
    EXPECT_TRUE(o.virtual_time && o.interactive && o.fresh);
    EXPECT_EQ(o.program_args, std::vector<std::string>{"/A"});

    SimOptions d;
    ASSERT_TRUE(parse({"--data"}, d, error));
    EXPECT_EQ(d.bell.mode, InputMode::Data);
    EXPECT_EQ(d.bell.data_char, '1');
    ASSERT_TRUE(parse({"--data=x", "--touch-rows=30"}, d, error));
    EXPECT_EQ(d.bell.data_char, 'x');
    EXPECT_EQ(d.plan.touch_max, 30);
}

TEST(SimOptions, RefuseWhatCannotBe) {
    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"--sensors=5"},
             {"--sensors"},
             {"--line=TX"},
             {"--bells=8", "--place=9"},
             {"--style=on-off", "--sensors=2"},
             {"--missed=0.5"},
             {"--touch-rows=80-40"},
             {"--virtual=1"},
             {"--rows=ten"},
             {"--wobble"},
             {"/a"},
         }) {
        SimOptions o;
        std::string error;
        EXPECT_FALSE(parse(bad, o, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimOptions, HelpNamesEveryOption) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--help"}, o, error));
    EXPECT_TRUE(o.help);
    const std::string help = help_text();
    for (const char* name : {"--sensors", "--style", "--line", "--pulse-ms", "--data", "--idle-ports", "--bells",
                             "--place", "--peal-minutes", "--jitter-ms", "--touch-rows", "--pause-s", "--rows",
                             "--seconds", "--idle-s", "--bounce", "--bounce-ms", "--transients", "--missed", "--spurious",
                             "--on-at-start", "--seed", "--interactive", "--target", "--handbell", "--virtual",
                             "--fresh", "--no-status", "--quit-after"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace qn::sim
