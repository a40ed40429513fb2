// The checks of the "Tag Format" dialog's OK button, in the order the dialog
// makes them, and the texts of their message boxes.
#pragma once

#include "driver/browse/browse_state.h"

constexpr const char kMissingValues[] = "Some values are missing ,please fill in all fields";
constexpr const char kInternalAddressLimit[] =
    "You've passed the limits of internal address ,MAX=65536";
constexpr const char kExternalAddressLimit[] =
    "You've passed the limits of external address ,MAX=4294967296";
constexpr const char kMaximum7Bits[] = "The memory type you've chosen supports maximum 7 bits ";
constexpr const char kMaximum15Bits[] = "The memory type you've chosen supports maximum 15 bits ";
constexpr const char kInternalChannelRange[] = "Internal memory  legal channel range is 1..8";
constexpr const char kExternalChannelRange[] = "External memory  legal channel range is 0..31";
constexpr const char kEquipmentRange[] = "Ilegal equitment , valid range is 0..255 ";

// The first check the entry fails, as the message to show, or null when every
// check passes and ComposeAddress will compose it.
//
// listText is the "Memory Type" list's text; state holds the mode, the
// recorded type name, bitRequested and the field texts as OK read them (bit
// number and byte/wordness "None" when not given).
const char* CheckBrowseEntry(const BrowseState& state, const char* listText);
