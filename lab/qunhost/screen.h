// Output of qunhost: scrolling lines, and on a terminal a live region (the
// table of gate values) that is redrawn in place below them.
//
// When standard output is a terminal the live region is rewritten in place
// (through the console's cursor functions on Windows, whose terminal receives
// them as ANSI escape sequences, and with ANSI escape sequences natively).
// Anywhere else (a pipe, a file) there is no live region and every line is
// plain UTF-8 text ended by a line feed.
#pragma once

#include <string>
#include <vector>

#include "lab/qunhost/platform/system.h"

namespace qunhost {

class Screen {
public:
    // plain: never use a live region, even on a console.
    explicit Screen(bool plain);
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Whether the live region is available.
    bool live() const { return live_; }
    // Columns of the terminal's window (a wide default for plain output).
    int width() const;

    // One line of scrolling output (UTF-8, without its line feed). On a
    // terminal it appears above the live region.
    void Line(const std::string& text);

    // Replaces the live region with these lines. Without a live region it
    // does nothing.
    void Live(const std::vector<std::string>& lines);
    // Leaves the live region on the screen as ordinary output; the next Live
    // starts a new one below it.
    void Freeze();

private:
    void Erase();

    sys::Terminal terminal_;
    bool live_ = false;
    std::vector<std::string> liveLines_;
    int drawnLines_ = 0;
};

// An error message on standard error, as "qunhost: message".
void PrintError(const std::string& message);

// Cuts text to at most columns characters (UTF-8 aware).
std::string FitColumns(const std::string& text, int columns);
// Characters of a UTF-8 text.
int TextColumns(const std::string& text);

}  // namespace qunhost
