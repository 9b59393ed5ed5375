#include <gtest/gtest.h>

#include <map>
#include <string>

#include "console/screen.h"

namespace qn {
namespace {

class RecordingDevice : public platform::Console {
public:
    platform::Result<void> open(int, int) override { return {}; }
    void close() override {}
    void write_cells(int row, int col, const platform::ConsoleCell* cells, int count) override {
        writes.push_back({row, col, count});
        std::string& line = text[row];
        if (static_cast<int>(line.size()) < col + count) line.resize(static_cast<std::size_t>(col + count), ' ');
        for (int i = 0; i < count; ++i) line[static_cast<std::size_t>(col + i)] = static_cast<char>(cells[i].ch);
    }
    platform::ConsoleSize size() override { return shown; }
    // The rows written, trimmed, joined by blanks.
    std::string joined() const {
        std::string all;
        for (const auto& [row, line] : text) all += line.substr(0, line.find_last_not_of(' ') + 1) + " ";
        return all;
    }
    void set_cursor(int, int, bool) override {}
    void present() override {}
    bool key_waiting() override { return false; }
    int read_key() override { return 0; }
    struct W { int row, col, count; };
    std::vector<W> writes;
    std::map<int, std::string> text;
    platform::ConsoleSize shown;
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

// The console measures itself: one too small for the screen and the lines
// it draws itself says what it needs instead of a garbled screen, and a
// change of size draws everything afresh.
TEST(Screen, AConsoleTooSmallSaysWhatItNeedsAndANewSizeIsDrawnAfresh) {
    const std::pair<platform::ConsoleSize, std::string> cases[] = {
        {{0, 0}, ""},  // cannot tell: drawn as it is
        {{25, 80}, ""},
        {{60, 200}, ""},
        {{5, 20}, "This window is 20x5 but Quennick needs 80x25 (columns x lines): make it larger."},
        {{25, 79}, "This window is 79x25 but Quennick needs 80x25"},
        {{24, 80}, "This window is 80x24 but Quennick needs 80x25"},
        {{25, 80, 1}, "This window is 80x25 but Quennick needs 80x26"},
    };
    for (const auto& [size, says] : cases) {
        const std::string name = std::to_string(size.cols) + "x" + std::to_string(size.rows);
        Screen s;
        RecordingDevice d;
        s.attach(&d);
        s.write("Hello");
        s.present();
        d.text.clear();
        d.shown = size;
        s.write("!");
        s.present();
        if (says.empty()) {
            // Only what changed, unless the size did.
            EXPECT_EQ(d.text[0].rfind(size.rows > 0 ? "Hello!" : "     !", 0), 0u) << name << ": " << d.text[0];
            if (size.rows > 0) {
                EXPECT_EQ(d.text.size(), static_cast<std::size_t>(size.rows)) << name;
            }
        } else {
            EXPECT_NE(d.joined().find(says), std::string::npos) << name << ": " << d.joined();
            EXPECT_EQ(d.joined().find("Hello"), std::string::npos) << name;
            EXPECT_LE(d.text.size(), static_cast<std::size_t>(size.rows)) << name;
            for (const auto& [row, line] : d.text) EXPECT_LE(line.size(), static_cast<std::size_t>(size.cols)) << name;
        }
        // Made large enough again: the whole screen comes back.
        d.text.clear();
        d.shown = {30, 100};
        s.present();
        EXPECT_EQ(d.text[0].rfind("Hello!", 0), 0u) << name;
        EXPECT_EQ(d.text.size(), 30u) << name;
    }
}

}  // namespace
}  // namespace qn
