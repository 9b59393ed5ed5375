#include <gtest/gtest.h>

#include "console/screen.h"

namespace qn {
namespace {

class RecordingDevice : public platform::Console {
public:
    platform::Result<void> open(int, int) override { return {}; }
    void close() override {}
    void write_cells(int row, int col, const platform::ConsoleCell*, int count) override {
        writes.push_back({row, col, count});
    }
    void set_cursor(int, int, bool) override {}
    void present() override {}
    bool key_waiting() override { return false; }
    int read_key() override { return 0; }
    struct W { int row, col, count; };
    std::vector<W> writes;
};

TEST(Screen, WritesInTheCurrentWindowAndColour) {
    Screen s;
    s.background_colour(kBlue);
    s.text_colour(kYellow);
    s.window(1, 9, 80, 20);
    s.clear_window();
    s.write("Hello");
    EXPECT_EQ(s.text(9, 1, 5), "Hello");
    EXPECT_EQ(s.at(9, 1).fg, kYellow);
    EXPECT_EQ(s.at(9, 1).bg, kBlue);
    EXPECT_EQ(s.at(20, 80).bg, kBlue);
    EXPECT_EQ(s.at(21, 1).bg, kBlack);  // outside the window: untouched
    EXPECT_EQ(s.cursor_line(), 9);
    EXPECT_EQ(s.cursor_col(), 6);
}

TEST(Screen, ScrollsOnlyTheWindow) {
    Screen s;
    s.window(1, 25, 80, 25);
    s.write("bottom");
    s.window(1, 19, 80, 20);
    s.write_line("one");
    s.write_line("two");
    s.write("three");
    EXPECT_EQ(s.text(19, 1, 5), "two  ");
    EXPECT_EQ(s.text(20, 1, 5), "three");
    s.write_line();
    EXPECT_EQ(s.text(19, 1, 5), "three");  // the line end at the bottom scrolls
    EXPECT_EQ(s.text(20, 1, 5), "     ");
    EXPECT_EQ(s.text(25, 1, 6), "bottom");
    EXPECT_EQ(s.cursor_line(), 20);
    EXPECT_EQ(s.cursor_col(), 1);
}

TEST(Screen, WrapsAtTheWindowEdgeSoAGlyphStringFillsItsRows) {
    Screen s;
    s.window(61, 1, 79, 19);  // 19 columns
    std::string glyph;
    for (int r = 0; r < 18; ++r) glyph += std::string(19, static_cast<char>('a' + r));
    s.write(glyph);
    EXPECT_EQ(s.text(1, 61, 19), std::string(19, 'a'));
    EXPECT_EQ(s.text(18, 61, 19), std::string(19, 'r'));
    EXPECT_EQ(s.at(1, 80).ch, ' ');
    EXPECT_EQ(s.cursor_line(), 19);  // no scroll: the text ends on the spare row
    EXPECT_EQ(s.text(1, 61, 1), "a");
}

TEST(Screen, GotoxyIsRelativeAndIgnoresPositionsOutsideTheWindow) {
    Screen s;
    s.window(1, 9, 80, 20);
    s.move_to(5, 2);
    s.write("x");
    EXPECT_EQ(s.text(10, 5, 1), "x");
    s.move_to(1, 13);  // line 21: outside
    s.write("y");
    EXPECT_EQ(s.text(10, 6, 1), "y");
}

TEST(Screen, PresentsOnlyChangedCells) {
    Screen s;
    RecordingDevice d;
    s.attach(&d);
    ASSERT_FALSE(d.writes.empty());  // the first present draws everything
    d.writes.clear();
    s.move_to(10, 3);
    s.write("abc");
    ASSERT_EQ(d.writes.size(), 1u);
    EXPECT_EQ(d.writes[0].row, 2);
    EXPECT_EQ(d.writes[0].col, 9);
    EXPECT_EQ(d.writes[0].count, 3);
    d.writes.clear();
    s.move_to(10, 3);
    s.write("abc");  // same text again: nothing to send
    EXPECT_TRUE(d.writes.empty());
}

}  // namespace
}  // namespace qn
