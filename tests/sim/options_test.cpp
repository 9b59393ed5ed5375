// The command lines of quennick-sim and quennick.
#include <gtest/gtest.h>

#include "platform/serial.h"
#include "service/command_line.h"
#include "sim/options.h"

namespace qn::sim {
namespace {

using platform::sim::InputMode;
using platform::sim::SensorStyle;

bool parse(std::vector<std::string> args, SimOptions& o, std::string& error) { return parse_options(args, o, error); }

TEST(SimOptions, SetTheBellTheRingingTheFaultsAndTheRun) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--sensors=2", "--line", "dsr", "--style=rest-on", "--bells=6", "--place=6", "--rows=720",
                       "--touch-rows=40-80", "--bounce=0.3", "--missed=0.01", "--seed", "42", "--virtual",
                       "--interactive", "--fresh", "/A", "--on-at-start", "--folder", "/tmp/q", "--handbell=n"},
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
    EXPECT_EQ(o.handbell, 'n');
    EXPECT_TRUE(o.virtual_time && o.interactive && o.fresh);
    EXPECT_FALSE(o.program.easy_mode);
    EXPECT_EQ(o.program.folder, "/tmp/q");

    SimOptions d;
    ASSERT_TRUE(parse({"--data"}, d, error));
    EXPECT_EQ(d.bell.mode, InputMode::Data);
    EXPECT_EQ(d.bell.data_char, '1');
    ASSERT_TRUE(parse({"--data=x", "--touch-rows=30", "--server=http://localhost:8080/"}, d, error));
    EXPECT_EQ(d.bell.data_char, 'x');
    EXPECT_EQ(d.plan.touch_max, 30);
    EXPECT_EQ(d.server, "http://localhost:8080");
}

// Both programs: what ends the command line at once, with which exit code,
// and the words the person is told (a bad value names the allowed range).
TEST(CommandLines, StopWithTheRightCodeAndSayWhy) {
    struct Row {
        bool sim;
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const std::vector<Row> rows = {
        {true, {"--bells=99"}, 2, "--bells: Value 99 not in range 2 to 16"},
        {true, {"--bells=ten"}, 2, "--bells: Value ten not in range 2 to 16"},
        {true, {"--sensors=5"}, 2, "not in range 1 to 4"},
        {true, {"--sensors"}, 2, "--sensors"},
        {true, {"--missed=0.5"}, 2, "--missed: Value 0.5 not in range 0 to 0.05"},
        {true, {"--on-at-start=0"}, 2, "not in range 1 to 100"},
        {true, {"--line=TX"}, 2, "--line"},
        {true, {"--style=wobbly"}, 2, "--style"},
        {true, {"--handbell=x"}, 2, "--handbell"},
        {true, {"--data=ab"}, 2, "one printable character"},
        {true, {"--touch-rows=80-40"}, 2, "the first no more than the second"},
        {true, {"--touch-rows=1"}, 2, "rows from 2 to 100000"},
        {true, {"--server=ftp://x"}, 2, "https:// or http://"},
        {true, {"--bells=8", "--place=9"}, 2, "--place is beyond --bells"},
        {true, {"--style=on-off", "--sensors=2"}, 2, "is one sensor"},
        {true, {"--tower=5", "--virtual"}, 2, "cannot go with --virtual"},
        {true, {"--band=1"}, 2, "--band: Value 1 not in range 2 to 16"},
        {true, {"--band=4", "--ringer=5:late=3"}, 2, "--ringer=5 is beyond the --band"},
        {true, {"--band=4", "--ringer=2:late=400"}, 2, "not late=400"},
        {true, {"--band=4", "--ringer=2:wobble=1"}, 2, "not wobble=1"},
        {true, {"--band=4", "--ringer=x:late=1"}, 2, "a bell from 1 to 16"},
        {true, {"--band=4", "--tower=5", "--virtual"}, 2, "cannot go with --virtual"},
        {true, {"--wobble"}, 2, "--wobble"},
        {true, {"/a"}, 2, "/a"},
        {true, {"--version"}, 0, "Quennick v0.8.2"},
        {true, {"--help"}, 0, "--bells=N"},
        {true, {"-h"}, 0, "--peal-minutes=M"},
        {true, {"/?"}, 0, "Usage: quennick-sim"},
        {false, {"--version"}, 0, "Quennick v0.8.2"},
        {false, {"--help"}, 0, "--folder=DIR"},
        {false, {"/?"}, 0, "Usage: quennick"},
        {false, {"/a"}, 2, "quennick: The following argument was not expected: /a (see quennick --help)"},
        {false, {"--bells=8"}, 2, "--bells"},
        {false, {"-A", "extra"}, 2, "extra"},
        {false, {"--folder"}, 2, "--folder"},
    };
    for (const Row& r : rows) {
        const std::string where = (r.sim ? "quennick-sim " : "quennick ") + r.args[0];
        SimOptions so;
        ProgramOptions po;
        const CommandLine line = r.sim ? parse_command_line(r.args, so) : parse_program_command_line(r.args, po);
        EXPECT_FALSE(line.run) << where;
        EXPECT_EQ(line.exit_code, r.code) << where;
        EXPECT_NE(line.text.find(r.says), std::string::npos) << where << ": " << line.text;
    }
}

TEST(CommandLines, HelpNamesEveryOptionWithItsRange) {
    SimOptions o;
    const std::string help = parse_command_line({"--help"}, o).text;
    for (const char* name :
         {"--sensors=N ", "--style=STYLE", "--line=LINE", "--pulse-ms=MS", "--data[=C]", "--idle-ports=N",
          "--bells=N", "--place=N", "--peal-minutes=M", "--jitter-ms=MS", "--touch-rows=A-B", "--pause-s=S",
          "--rows=N", "--seconds=S", "--idle-s=S", "--bounce=P", "--bounce-ms=MS", "--transients=P", "--missed=R",
          "--spurious=R", "--on-at-start[=N]", "--seed=N", "--interactive", "--target=N", "--handbell=y|n",
          "--virtual", "--fresh", "--no-status", "--quit-after=S", "--tower=ID", "--server=URL", "--folder=DIR",
          "-A ", "--version", "from 2 to 16 (8)", "from 20 to 600 (180)", "from 0 to 0.05 (0)"})
        EXPECT_NE(help.find(name), std::string::npos) << name << "\n" << help;
    ProgramOptions p;
    EXPECT_TRUE(parse_program_command_line({"/A", "--folder=."}, p).run);
    EXPECT_FALSE(p.easy_mode);
    EXPECT_EQ(p.folder, ".");
}

}  // namespace
}  // namespace qn::sim
