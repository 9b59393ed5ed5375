// touchgen: writes the rows of a method's plain course or of a touch, for the
// automatic-ringing touch files. Standalone: it shares no code with the
// program, so the program's reading of the files is checked against rows made
// independently.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace touchgen {

inline constexpr int kMinStage = 3;
inline constexpr int kMaxStage = 16;

// Bell or place 1..16 as written: 1-9, 0, E, T, A, B, C, D.
char symbol(int place);
// Place of a symbol (either case for letters); 0 when it is none.
int place_of(char ch);

std::string rounds(int stage);

// One change: the places (1-based, ascending) where bells stay; empty for
// the cross change of an even stage.
using Change = std::vector<int>;

// Place notation of one lead: changes separated by "." or by the cross
// change "x" (or "-"); a "," splits the notation into parts that are each a
// palindrome about their last change ("x16x16x16,12" is x16x16x16x16x16x12).
// A part may be marked "&" (palindrome) or "+" (as written).
// Places an even number of swaps leaves out at either end are implied.
// False with *error set when the notation does not fit the stage.
bool parse_notation(std::string_view pn, int stage, std::vector<Change>* out, std::string* error);

std::string apply(const std::string& row, const Change& change);

// What to ring. A call replaces the lead's last changes by its own (as many
// as it has), so "14" is a Plain Bob bob and "3.1" a Grandsire one.
struct TouchPlan {
    int stage = 0;
    std::string notation;
    std::string bob = "14";
    std::string single = "1234";
    // One letter per lead: p plain, b bob, s single; repeated until the
    // touch comes round at a lead end.
    std::string calling = "p";
    int max_rows = 5000;
};

struct Touch {
    std::vector<std::string> rows;  // rounds first, ending in rounds
    int lead_length = 0;
    std::vector<int> call_rows;     // index into rows of each lead end that was called
};

bool generate(const TouchPlan& plan, Touch* out, std::string* error);

// The row that first repeats an earlier one (rounds at the very end
// excepted); empty when the touch is true.
std::string first_repeated_row(const std::vector<std::string>& rows);

// Rows only, each followed by eol; with a number line first when
// lead_length > 0.
std::string format(const std::vector<std::string>& rows, int lead_length, std::string_view eol);

// The command line; returns the exit code. Output and messages go to out/err.
int run(const std::vector<std::string>& args, std::string* out, std::string* err);

}  // namespace touchgen
