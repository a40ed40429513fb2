// Code page 437 text, as the driver reports it, turned into UTF-8 for a terminal.
#pragma once

#include <string>

// Control bytes other than line feed are dropped.
std::string Cp437ToUtf8(const std::string& text);
