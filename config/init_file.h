// The station initialisation file "qunDOZnn.INT" of a driver instance.
#pragma once

#include <cstdio>

#include "entry/request.h"

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
bool ReadIniLine(std::FILE* file, char (&line)[kIniLineLength + 1]);
