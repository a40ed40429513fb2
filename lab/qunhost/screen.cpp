#include "lab/qunhost/screen.h"

#include <cstdio>

namespace qunhost {

Screen::Screen(bool plain) { live_ = terminal_.present() && !plain; }

Screen::~Screen() {
    Freeze();
    std::fflush(stdout);
}

int Screen::width() const { return terminal_.present() ? terminal_.Columns() : 1000; }

void Screen::Erase() {
    terminal_.EraseLinesAbove(drawnLines_);
    drawnLines_ = 0;
}

void Screen::Line(const std::string& text) {
    if (!live_) {
        terminal_.Write(text + "\n");
        return;
    }
    Erase();
    terminal_.Write(text + "\n");
    Live(liveLines_);
}

void Screen::Live(const std::vector<std::string>& lines) {
    if (!live_) return;
    Erase();
    liveLines_ = lines;
    const int rows = terminal_.Rows() - 1;  // one row kept for the cursor
    const int columns = width() - 1;
    std::string block;
    int count = 0;
    for (const std::string& line : lines) {
        if (count >= rows) break;
        block += FitColumns(line, columns) + "\n";
        ++count;
    }
    terminal_.Write(block);
    drawnLines_ = count;
}

void Screen::Freeze() {
    drawnLines_ = 0;
    liveLines_.clear();
}

void PrintError(const std::string& message) {
    const std::string line = "qunhost: " + message + "\n";
    std::fflush(stdout);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

int TextColumns(const std::string& text) {
    int columns = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++columns;
    return columns;
}

std::string FitColumns(const std::string& text, int columns) {
    int seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) {
            if (seen == columns) return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

}  // namespace qunhost
