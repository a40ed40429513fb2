#include "host/screen.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace qunhost {

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

}  // namespace

Screen::Screen(bool plain) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    console_ = out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode);
    handle_ = out;
    if (console_) {
        oldCodePage_ = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
        live_ = !plain;
    }
    PrepareStreams();
}

Screen::~Screen() {
    Freeze();
    if (console_ && oldCodePage_ != 0) SetConsoleOutputCP(oldCodePage_);
    std::fflush(stdout);
}

int Screen::width() const {
    if (!console_) return 1000;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(static_cast<HANDLE>(handle_), &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 20 ? columns : 80;
}

void Screen::Write(const std::string& text) {
    if (console_) {
        const std::wstring wide = Widen(text);
        DWORD written = 0;
        WriteConsoleW(static_cast<HANDLE>(handle_), wide.data(), static_cast<DWORD>(wide.size()),
                      &written, nullptr);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}

void Screen::Erase() {
    if (drawnLines_ == 0) return;
    HANDLE out = static_cast<HANDLE>(handle_);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(out, &info)) {
        // The live region ends with a line feed, so the cursor stands at the
        // start of the line below it.
        int top = info.dwCursorPosition.Y - drawnLines_;
        if (top < 0) top = 0;
        const COORD start = {0, static_cast<SHORT>(top)};
        const DWORD cells = static_cast<DWORD>(info.dwSize.X) *
                            static_cast<DWORD>(info.dwCursorPosition.Y - top + 1);
        DWORD done = 0;
        FillConsoleOutputCharacterW(out, L' ', cells, start, &done);
        FillConsoleOutputAttribute(out, info.wAttributes, cells, start, &done);
        SetConsoleCursorPosition(out, start);
    }
    drawnLines_ = 0;
}

void Screen::Line(const std::string& text) {
    if (!live_) {
        Write(text + "\n");
        return;
    }
    Erase();
    std::string block = text + "\n";
    Write(block);
    Live(liveLines_);
}

void Screen::Live(const std::vector<std::string>& lines) {
    if (!live_) return;
    Erase();
    liveLines_ = lines;
    CONSOLE_SCREEN_BUFFER_INFO info;
    int rows = 1000;
    if (GetConsoleScreenBufferInfo(static_cast<HANDLE>(handle_), &info))
        rows = info.srWindow.Bottom - info.srWindow.Top;  // one row kept for the cursor
    const int columns = width() - 1;
    std::string block;
    int count = 0;
    for (const std::string& line : lines) {
        if (count >= rows) break;
        block += FitColumns(line, columns) + "\n";
        ++count;
    }
    Write(block);
    drawnLines_ = count;
}

void Screen::Freeze() {
    drawnLines_ = 0;
    liveLines_.clear();
}

void PrepareStreams() {
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        _setmode(_fileno(stdout), _O_BINARY);
    if (!GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode))
        _setmode(_fileno(stderr), _O_BINARY);
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
