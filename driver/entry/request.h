// QunRequest: the record the host passes with every call of QunMain.
#pragma once

#include <cstddef>
#include <cstdint>

struct DriverState;

// The common header of every request. The driver reads these five fields and
// nothing beyond them; the host owns the record.
struct QunRequest {
    DriverState* state;     // the instance's state block (host-allocated)
    uint32_t functionCode;  // 1 to 17
    uint32_t instance;      // instance number at the host
    uint32_t unused12;      // never read or written by the driver
    void* parameters;       // the function's own parameter block
};

// Every driver function has QunMain's shape.
using DriverFunction = int32_t (*)(QunRequest* request);

#if defined(_WIN32) && defined(__i386__)
static_assert(sizeof(QunRequest) == 20, "QunRequest header is 20 bytes");
static_assert(offsetof(QunRequest, functionCode) == 4, "");
static_assert(offsetof(QunRequest, instance) == 8, "");
static_assert(offsetof(QunRequest, unused12) == 12, "");
static_assert(offsetof(QunRequest, parameters) == 16, "");
#endif

// The parameter block of a request, seen as the function's own record.
template <typename Block>
inline Block* ParametersOf(const QunRequest* request) {
    return static_cast<Block*>(request->parameters);
}
