#include "cli/ProgressLine.h"

#include <algorithm>
#include <cstdio>

namespace peltorn::cli {

namespace {

constexpr const char* kGreen = "\x1b[32m";
constexpr const char* kPlain = "\x1b[0m";

bool IsContinuationByte(char ch) { return (static_cast<unsigned char>(ch) & 0xC0) == 0x80; }

// The first width characters of text (characters, not bytes: company paths may hold UTF-8),
// never cutting a character in two.
std::string CutToWidth(const std::string& text, std::size_t width) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsContinuationByte(text[i])) continue;
        if (chars == width) return text.substr(0, i);
        ++chars;
    }
    return text;
}

}  // namespace

std::string ElapsedText(long seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    if (seconds < 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    return text;
}

std::string RenderProgressLine(const TProgressLine& line, int columns, bool colour) {
    const std::size_t width = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
    std::string text;
    for (const std::string* part : {&line.Group, &line.Where, &line.Table, &line.Count}) {
        if (part->empty()) continue;
        if (!text.empty()) text += "  ";
        text += *part;
    }
    const std::string elapsed = ElapsedText(line.ElapsedSeconds);
    // The bar takes a quarter of the line, between 10 and 24 characters; on a very narrow
    // terminal it gives way to the text.
    const std::size_t barWidth = std::clamp<std::size_t>(width / 4, 10, 24);
    if (width < elapsed.size() + barWidth + 3 + 10) return CutToWidth(elapsed + "  " + text, width);

    std::size_t filled = 0;
    if (line.BarTotal > 0) {
        const int done = std::clamp(line.BarDone, 0, line.BarTotal);
        filled =
            barWidth * static_cast<std::size_t>(done) / static_cast<std::size_t>(line.BarTotal);
    }
    std::string out = elapsed + " [";
    if (colour && filled > 0) out += kGreen;
    out.append(filled, '#');
    if (colour && filled > 0) out += kPlain;
    out.append(barWidth - filled, '.');
    out += "] ";
    const std::size_t used = elapsed.size() + barWidth + 4;
    return out + CutToWidth(text, width - used);
}

}  // namespace peltorn::cli
