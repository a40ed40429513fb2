// The function codes a host passes in QunRequest::functionCode: for the
// data-exchange paths that serve several of them, and for programs that play
// the host (the host program, the soak).
#pragma once

#include <cstdint>

namespace function_code {

constexpr uint32_t kColdStart = 1;
constexpr uint32_t kSingleParse = 3;
constexpr uint32_t kBlockParse = 4;
constexpr uint32_t kSingleRead = 5;
constexpr uint32_t kBlockRead = 6;
constexpr uint32_t kSingleWrite = 7;
constexpr uint32_t kBlockWrite = 10;
constexpr uint32_t kEndQun = 11;
constexpr uint32_t kGetQunInfo = 14;
constexpr uint32_t kBrowseAddress = 16;

}  // namespace function_code
