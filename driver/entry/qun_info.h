// QunInfo: the information record GetQunInfo fills for the host.
#pragma once

#include <cstddef>
#include <cstdint>

struct QunInfo {
    uint32_t infoCode;       // 0: always 82
    const char* makerName;   // 4: "Applicom "
    const char* banner;      // 8: the framed code page 437 banner
    uint32_t stateSize;      // 12: size of DriverState
    uint32_t value16;        // 16: always 2
    uint16_t value20;        // 20: always 0
    uint8_t hostOwned22[6];  // 22 to 27: left as the host put them
    uint32_t capabilities;   // 28: 0xC0023
};

#if defined(_WIN32) && defined(__i386__)
static_assert(sizeof(QunInfo) == 32, "");
static_assert(offsetof(QunInfo, makerName) == 4, "");
static_assert(offsetof(QunInfo, banner) == 8, "");
static_assert(offsetof(QunInfo, stateSize) == 12, "");
static_assert(offsetof(QunInfo, value16) == 16, "");
static_assert(offsetof(QunInfo, value20) == 20, "");
static_assert(offsetof(QunInfo, hostOwned22) == 22, "");
static_assert(offsetof(QunInfo, capabilities) == 28, "");
#endif

// WarmStart's parameter block: only the PLC number is read.
struct WarmStartParams {
    uint32_t plcNumber;
};

// ColdStart's parameter block: the driver reads offsets 12 and 16 only.
struct ColdStartParams {
    uint8_t unused0[12];
    int32_t openFlag;  // nonzero: open the card; 1 also asks for the failure message
    int32_t timeout;   // in units of 10 ms
};

static_assert(sizeof(ColdStartParams) == 20, "");
static_assert(offsetof(ColdStartParams, openFlag) == 12, "");
static_assert(offsetof(ColdStartParams, timeout) == 16, "");
