// Method and touch files: rows, place notation, block length and calls.
#pragma once

#include <cstdint>
#include <string>

#include "autoring/touch.h"

namespace qn {

class TextSink;

// Reads a file's text into a touch and analyses its blocks, telling the run
// log each step and the screen what makes a touch unsuitable.
class TouchReader {
public:
    // bells: the number to be rung; a touch of fewer bells (with a cover)
    // cuts it.
    TouchReader(Touch& touch, TextSink& log, TextSink& screen, std::int32_t bells);

    bool load_method_file(const std::string& text);
    // The file's name as the ringer gave it, for the line a bad row names.
    void set_file_name(const std::string& name) { file_ = name; }
    std::int32_t bells() const { return bells_; }

    // The steps of load_method_file.
    bool load_file_data(const std::string& text);
    void find_symmetry();
    bool seek_repeating_patterns();
    bool check_call_types();
    void pad_row(TouchRow& row);

private:
    void refuse(const std::string& why);
    void refuse_row(std::size_t line_no, const std::string& row, std::size_t n);
    void add_rounds_before(const std::string& first);
    void log_symmetry_radii();
    void mark_symmetry_peaks();
    std::int32_t widest_peak_gap();
    bool add_to_pnlist(const std::string& pn);
    bool note_difference(std::int32_t i);

    Touch& touch_;
    TextSink& log_;
    TextSink& screen_;
    std::int32_t bells_;
    std::string file_;
};

char bell_symbol(std::int32_t place);

}  // namespace qn
