// The line `peltorn merge` keeps up to date on a terminal while a run lasts: the time the run has
// taken, a bar, and what the run is doing (group, source, stage or table, count), cut to the
// width of the terminal so that it never wraps and can always be rewritten in place.
#pragma once

#include <string>

namespace peltorn::cli {

struct TProgressLine {
    long ElapsedSeconds = 0;
    std::string Group;  // the group's code, which is its destination company
    std::string Where;  // the source company during the transfer, otherwise the stage
    std::string Table;  // the table being cleared or transferred; may be empty
    std::string Count;  // "1204 records", "12/40"; may be empty
    int BarDone = 0;    // the bar: BarDone of BarTotal; BarTotal 0 gives an empty bar
    int BarTotal = 0;
};

// "0:07", "12:34", "1:02:03".
std::string ElapsedText(long seconds);

// The text of the line, at most columns - 1 characters wide (the last column is left free, so
// the terminal never wraps the line). With colour the filled part of the bar is green; the
// characters are the same either way.
std::string RenderProgressLine(const TProgressLine& line, int columns, bool colour);

}  // namespace peltorn::cli
