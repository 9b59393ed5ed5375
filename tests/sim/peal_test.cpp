// A whole peal on the simulated bell, in virtual time: 5040 rows on eight
// bells at three hours, rung as one touch, with switch bounce, transients on
// the line, one strike in two hundred missed and one in two hundred
// spurious. Every strike of the bell is accounted for against its truth, and
// the screen at the end shows the rows and the speed the ringer rang.
#include <cstdio>
#include <string>

#include "sim_test_util.h"

namespace qn::sim::test {
namespace {

using platform::sim::Strike;
using platform::sim::StrikeKind;

SimOptions peal() {
    SimOptions o = virtual_run();
    o.fresh = true;
    o.plan.rows = 5040;
    o.plan.touch_min = o.plan.touch_max = 5040;  // no pause: one touch
    o.plan.rhythm.bells = 8;
    o.plan.rhythm.place = 5;
    o.plan.rhythm.peal_minutes = 180;
    o.bell.faults.bounce = 0.3;
    o.bell.faults.transients = 0.2;
    o.bell.faults.missed = 1.0 / 200;
    o.bell.faults.spurious = 1.0 / 200;
    return o;
}

// "Peal speed=3:  0" as minutes; -1 when the line is not there.
int shown_peal_minutes(const Screen& s) {
    const std::string line = s.line_text(24);
    if (line.rfind("Peal speed=", 0) != 0) return -1;
    int hours = 0, minutes = 0;
    if (std::sscanf(line.c_str() + 11, "%d:%d", &hours, &minutes) != 2) return -1;
    return hours * 60 + minutes;
}

int shown_rows(const Screen& s) {
    const std::string line = s.line_text(22);
    int rows = -1;
    if (line.rfind("Row count =", 0) == 0) std::sscanf(line.c_str() + 11, "%d", &rows);
    return rows;
}

TEST(SimPeal, FiveThousandAndFortyRowsWithFaultsEveryStrikeAccountedFor) {
    ScratchDir dir;
    SimRun run(peal(), embedded());
    ASSERT_EQ(run.run(), 0);

    std::vector<Strike> strikes;
    {
        std::lock_guard<std::mutex> g(run.time().mutex());
        strikes = run.bell().strikes_until(0);
    }
    const std::vector<KeyRecord> keys = run.target().keys();
    std::vector<int> keyed(strikes.size(), 0), doubled(strikes.size(), 0);
    long extra = 0;
    for (const KeyRecord& k : keys) {
        if (k.cls == KeyClass::Extra) ++extra;
        if (k.strike < 0) continue;
        (k.cls == KeyClass::Doubled ? doubled : keyed)[static_cast<std::size_t>(k.strike)] += 1;
    }

    long blows = 0, missed = 0, spurious = 0, wrong = 0;
    for (std::size_t i = 0; i < strikes.size(); ++i) {
        const Strike& s = strikes[i];
        if (s.row <= 0) continue;  // calibration's pulls
        int want_keyed = 0, want_doubled = 0;
        switch (s.kind) {
        case StrikeKind::Real:
            ++blows;
            want_keyed = 1;
            want_doubled = s.after_missed ? 1 : 0;  // the made-up key of the blow before
            break;
        case StrikeKind::Missed:
            ++missed;
            EXPECT_TRUE(i + 1 < strikes.size() && strikes[i + 1].after_missed) << "row " << s.row;
            break;
        case StrikeKind::Spurious:
            ++spurious;
            want_keyed = 1;  // sent, and left out of the spacing
            break;
        default: break;
        }
        if (keyed[i] != want_keyed || doubled[i] != want_doubled) {
            if (++wrong <= 5)
                ADD_FAILURE() << "row " << s.row << ": " << keyed[i] << " keys and " << doubled[i]
                              << " made-up keys, not " << want_keyed << " and " << want_doubled;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(blows + missed, 5040);
    EXPECT_EQ(missed, 25);  // one in each block of 200 rows
    EXPECT_GE(spurious, 25);
    EXPECT_EQ(extra, 0);    // nothing for bounce or transients
    EXPECT_EQ(static_cast<long>(keys.size()), blows + spurious + missed);
    EXPECT_GT(run.bell().counts().bounces, 1000);
    EXPECT_GT(run.bell().counts().transients, 500);

    // The counter shows the rows rung: the missed ones made up count, the
    // spurious strikes do not (there are more of those here than missed).
    const Screen& screen = run.program().screen;
    EXPECT_NE(spurious, missed);
    EXPECT_EQ(shown_rows(screen), 5040) << screen.line_text(22);
    const int shown = shown_peal_minutes(screen);
    EXPECT_LE(std::abs(shown - 180), 1) << screen.line_text(24);
    const TargetFigures f = run.target().figures();
    std::printf("  peal: %ld blows, %ld missed, %ld spurious, %ld bounces, %ld transients; counter %d, peal speed "
                "shown %d min; keys from their due time: median %.2f ms, p99 %.2f ms, worst %.2f ms\n",
                blows, missed, spurious, run.bell().counts().bounces, run.bell().counts().transients,
                shown_rows(screen), shown, f.median_ms, f.p99_ms, f.worst_ms);
}

}  // namespace
}  // namespace qn::sim::test
