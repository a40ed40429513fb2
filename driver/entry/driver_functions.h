// The driver functions of the function table, one per function code.
// Each takes the host's request and returns the driver's result code.
#pragma once

#include <cstdint>

#include "driver/entry/request.h"
#include "driver/platform/abi.h"

int32_t ColdStart(QunRequest* request);            // 1
int32_t WarmStart(QunRequest* request);            // 2
int32_t SingleAddressParser(QunRequest* request);  // 3
int32_t BlockAddressParser(QunRequest* request);   // 4
int32_t SingleRead(QunRequest* request);           // 5
int32_t BlockRead(QunRequest* request);            // 6
int32_t SingleWrite(QunRequest* request);          // 7
int32_t BlockWrite(QunRequest* request);           // 10
int32_t EndQun(QunRequest* request);               // 11
int32_t CloseCom(QunRequest* request);             // 12
int32_t ReOpenCom(QunRequest* request);            // 13
int32_t GetQunInfo(QunRequest* request);           // 14
int32_t ChangeQunParams(QunRequest* request);      // 15
int32_t BrowseAddress(QunRequest* request);        // 16

// The exported entry point.
extern "C" int32_t QUN_CDECL QunMain(QunRequest* request);

// Result of QunMain for an illegal or empty function code.
constexpr int32_t kNoSuchFunction = 2;
