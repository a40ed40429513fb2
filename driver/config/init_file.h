// The station initialisation file "qunDOZnn.INT" of a driver instance.
#pragma once

#include <cstdint>

#include "driver/entry/request.h"
#include "driver/platform/os.h"

// Sets retryCount and balanceFree to their defaults, then applies the
// instance's initialisation file from the current directory, if there is one.
void ReadIntFile(QunRequest* request);

// Characters a compacted line of the file holds; the rest of a longer line is dropped.
constexpr int kIniLineLength = 135;

// Reads the next line of the file and compacts it into line: bytes below 0x20
// and from 0x80 up dropped, blanks dropped before the line's first comma and
// kept from it on, the line feed not stored. A last line without a line feed
// counts only if at least 10 characters of it were stored. False at the end
// of the file (a read error included).
struct IniFile;
bool ReadIniLine(IniFile& file, char (&line)[kIniLineLength + 1]);

// The file read through a buffer of its own, kept on the caller's stack: the
// cold start takes nothing from the heap.
struct IniFile {
    os::Handle handle = nullptr;
    uint32_t next = 0;  // next unread byte of bytes
    uint32_t size = 0;  // bytes held in bytes
    uint8_t bytes[512];

    // False when the file cannot be opened.
    bool Open(const char* name) {
        handle = os::TextFileOpen(name);
        next = size = 0;
        return handle != nullptr;
    }
    void Close() {
        os::TextFileClose(handle);
        handle = nullptr;
    }
    // The next byte, or -1 at the end of the file.
    int Next() {
        if (next == size) {
            size = os::TextFileRead(handle, bytes, sizeof bytes);
            next = 0;
            if (size == 0) return -1;
        }
        return bytes[next++];
    }
};
