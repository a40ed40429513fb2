// The 49 routines of the card library, each forwarded to the real library
// with the same arguments and data area, and recorded: the scalar arguments
// as they went in, the data a write handed over or a read delivered, the
// status, the calling thread, the time and the duration. What the real
// library answers reaches the caller unchanged.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "driver/platform/abi.h"
#include "recorder/tap/platform/tap_system.h"
#include "recorder/tap/tap.h"

namespace {

using qtrace::kCardRoutines;
using tap::Tap;

using Bus = void(QUN_CDECL*)(int16_t*);
using Network = void(QUN_CDECL*)(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t*);
using PairWithData = void(QUN_CDECL*)(int16_t*, int16_t*, void*, int16_t*);
using Database = void(QUN_CDECL*)(int16_t*, int16_t*, int32_t*, void*, int16_t*);
using CreateCyclic = void(QUN_CDECL*)(int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int16_t*,
                                      int16_t*, int16_t*, int32_t*, int16_t*, int16_t*, int16_t*);
using Cyclic = void(QUN_CDECL*)(int16_t*, int16_t*, int16_t*);
using TransCyclic = void(QUN_CDECL*)(int16_t*, int16_t*, int16_t*, int16_t*, void*, int16_t*);

// One call: the real routine's address, and the record being made of it.
// The scalar arguments and the data a write hands over are taken as the
// caller handed them over, before the real routine runs.
struct Call {
    int routine;
    Tap& tap;
    void* real;
    uint64_t start = 0;
    int32_t arguments[qtrace::kMostArguments];
    int argumentCount = 0;
    const void* in = nullptr;
    uint32_t inBytes = 0;
    uint8_t handedOver[qtrace::kMostDataBytes];

    explicit Call(int id) : routine(id), tap(Tap::Instance()), real(tap.Real(id)) {}

    void Take(std::initializer_list<int32_t> values) {
        for (int32_t value : values) arguments[argumentCount++] = value;
    }
    // What a write hands over: bytes of data.
    void HandOver(const void* data, uint32_t bytes) {
        if (!tap.recording() || data == nullptr || bytes == 0) return;
        std::memcpy(handedOver, data, bytes);
        in = handedOver;
        inBytes = bytes;
    }

    // The real routine; null when there is none, and then the call is
    // answered kMissingRoutine and recorded as such.
    template <typename Function>
    Function Target(int16_t* status) {
        if (tap.recording()) start = tap::Ticks();
        if (real != nullptr) return reinterpret_cast<Function>(real);
        tap.Missing(routine);
        *status = tap::kMissingRoutine;
        Finish(*status, nullptr, 0);
        return nullptr;
    }

    void Finish(int16_t status, const void* out, uint32_t outBytes) {
        if (!tap.recording()) return;
        const qtrace::CallRecord record{static_cast<uint8_t>(routine),
                                        tap::ThreadId(),
                                        start,
                                        tap::Ticks(),
                                        status,
                                        arguments,
                                        argumentCount,
                                        in,
                                        inBytes,
                                        out,
                                        outBytes};
        tap.Record(record);
    }
};

void ForwardBus(int id, int16_t* status) {
    Call call(id);
    if (Bus real = call.Target<Bus>(status)) {
        real(status);
        call.Finish(*status, nullptr, 0);
    }
    if (id == qtrace::routine::exitbus) call.tap.Flush();
}

// A network or database routine: count elements in the data area, in the
// routine's format, handed over (writes) or delivered (reads).
template <typename Function, typename... Arguments>
void ForwardData(Call& call, int32_t count, void* data, int16_t* status, Arguments... arguments) {
    const qtrace::CardRoutine& routine = kCardRoutines[call.routine];
    const uint32_t bytes = qtrace::DataBytes(routine.format, count);
    if (routine.flow == qtrace::Flow::kIn) call.HandOver(data, bytes);
    Function real = call.template Target<Function>(status);
    if (real == nullptr) return;
    real(arguments..., data, status);
    const bool delivered = routine.flow == qtrace::Flow::kOut && *status == 0;
    call.Finish(*status, data, delivered ? bytes : 0);
}

void ForwardNetwork(int id, int16_t* channel, int16_t* equipment, int16_t* count, int32_t* address,
                    void* data, int16_t* status) {
    Call call(id);
    call.Take({*channel, *equipment, *count, *address});
    ForwardData<Network>(call, *count, data, status, channel, equipment, count, address);
}

void ForwardDatabase(int id, int16_t* channel, int16_t* count, int32_t* address, void* data,
                     int16_t* status) {
    Call call(id);
    call.Take({*channel, *count, *address});
    ForwardData<Database>(call, *count, data, status, channel, count, address);
}

void ForwardCyclic(int id, int16_t* channel, int16_t* number, int16_t* status) {
    Call call(id);
    call.Take({*channel, *number});
    Cyclic real = call.Target<Cyclic>(status);
    if (real == nullptr) return;
    real(channel, number, status);
    call.Finish(*status, nullptr, 0);
}

// Two scalar arguments and a data area the routine fills, as long as its
// format says: readquickbit (channel, equipment), AppGetCycParam (channel,
// number).
void ForwardPairWithData(int id, int16_t* first, int16_t* second, void* data, int16_t* status) {
    Call call(id);
    call.Take({*first, *second});
    PairWithData real = call.Target<PairWithData>(status);
    if (real == nullptr) return;
    real(first, second, data, status);
    const uint32_t bytes = qtrace::DataBytes(kCardRoutines[id].format, 1);
    call.Finish(*status, data, *status == 0 ? bytes : 0);
}

}  // namespace

// Each export takes its identifier from the routine table by its name, and
// the table must give the routine the form the export was written for.
#define TAP_FORM(name, arguments, flow)                                                         \
    static_assert(                                                                              \
        qtrace::Takes(qtrace::routine::name, qtrace::Arguments::arguments, qtrace::Flow::flow), \
        #name " has another form in the routine table")
#define TAP_BUS(name)             \
    TAP_FORM(name, kNone, kNone); \
    QUN_EXPORT void QUN_CDECL name(int16_t* status) { ForwardBus(qtrace::routine::name, status); }
#define TAP_NETWORK(name, flow)                                                                  \
    TAP_FORM(name, kNetwork, flow);                                                              \
    QUN_EXPORT void QUN_CDECL name(int16_t* channel, int16_t* equipment, int16_t* count,         \
                                   int32_t* address, void* data, int16_t* status) {              \
        ForwardNetwork(qtrace::routine::name, channel, equipment, count, address, data, status); \
    }
#define TAP_DATABASE(name, flow)                                                                   \
    TAP_FORM(name, kDatabase, flow);                                                               \
    QUN_EXPORT void QUN_CDECL name(int16_t* channel, int16_t* count, int32_t* address, void* data, \
                                   int16_t* status) {                                              \
        ForwardDatabase(qtrace::routine::name, channel, count, address, data, status);             \
    }
#define TAP_CYCLIC(name)                                                                 \
    TAP_FORM(name, kCyclic, kNone);                                                      \
    QUN_EXPORT void QUN_CDECL name(int16_t* channel, int16_t* number, int16_t* status) { \
        ForwardCyclic(qtrace::routine::name, channel, number, status);                   \
    }

TAP_BUS(initbus)
TAP_BUS(exitbus)
TAP_NETWORK(readpackbit, kOut)
TAP_NETWORK(readpackibit, kOut)
TAP_NETWORK(readpackqbit, kOut)
TAP_NETWORK(readbyte, kOut)
TAP_NETWORK(readibyte, kOut)
TAP_NETWORK(readqbyte, kOut)
TAP_NETWORK(readpackbyte, kOut)
TAP_NETWORK(readpackibyte, kOut)
TAP_NETWORK(readpackqbyte, kOut)
TAP_NETWORK(readword, kOut)
TAP_NETWORK(readiword, kOut)
TAP_NETWORK(readqword, kOut)
TAP_NETWORK(readwordbcd, kOut)
TAP_NETWORK(readdword, kOut)
TAP_NETWORK(readfword, kOut)
TAP_NETWORK(readtimer, kOut)
TAP_NETWORK(readcounter, kOut)
TAP_NETWORK(writepackbit, kIn)
TAP_NETWORK(writepackqbit, kIn)
TAP_NETWORK(writebyte, kIn)
TAP_NETWORK(writeqbyte, kIn)
TAP_NETWORK(writepackbyte, kIn)
TAP_NETWORK(writepackqbyte, kIn)
TAP_NETWORK(writeword, kIn)
TAP_NETWORK(writeqword, kIn)
TAP_NETWORK(writewordbcd, kIn)
TAP_NETWORK(writedword, kIn)
TAP_NETWORK(writefword, kIn)
TAP_NETWORK(writetimer, kIn)
TAP_NETWORK(writecounter, kIn)
TAP_DATABASE(getpackbit, kOut)
TAP_DATABASE(getpackbyte, kOut)
TAP_DATABASE(getword, kOut)
TAP_DATABASE(getdword, kOut)
TAP_DATABASE(getfword, kOut)
TAP_DATABASE(setpackbit, kIn)
TAP_DATABASE(setbit, kIn)
TAP_DATABASE(setpackbyte, kIn)
TAP_DATABASE(setword, kIn)
TAP_DATABASE(setdword, kIn)
TAP_DATABASE(setfword, kIn)
TAP_CYCLIC(startcyc)
TAP_CYCLIC(stopcyc)

TAP_FORM(readquickbit, kQuickBit, kOut);
QUN_EXPORT void QUN_CDECL readquickbit(int16_t* channel, int16_t* equipment, void* data,
                                       int16_t* status) {
    ForwardPairWithData(qtrace::routine::readquickbit, channel, equipment, data, status);
}

TAP_FORM(createcyc, kCreateCyclic, kNone);
QUN_EXPORT void QUN_CDECL createcyc(int16_t* channel, int16_t* number, int16_t* period,
                                    int16_t* one, int16_t* typeCode, int16_t* databaseKind,
                                    int16_t* equipment, int16_t* count, int32_t* address,
                                    int16_t* databaseAddress, int16_t* minusOne, int16_t* status) {
    Call call(qtrace::routine::createcyc);
    call.Take({*channel, *number, *period, *one, *typeCode, *databaseKind, *equipment, *count,
               *address, *databaseAddress, *minusOne});
    CreateCyclic real = call.Target<CreateCyclic>(status);
    if (real == nullptr) return;
    real(channel, number, period, one, typeCode, databaseKind, equipment, count, address,
         databaseAddress, minusOne, status);
    if (*status == 0) call.tap.RememberCyclic(call.arguments);
    call.Finish(*status, nullptr, 0);
}

TAP_FORM(transcycpack, kTransCyclic, kOut);
QUN_EXPORT void QUN_CDECL transcycpack(int16_t* channel, int16_t* number, int16_t* out1,
                                       int16_t* out2, void* data, int16_t* status) {
    Call call(qtrace::routine::transcycpack);
    call.Take({*channel, *number});
    TransCyclic real = call.Target<TransCyclic>(status);
    if (real == nullptr) return;
    real(channel, number, out1, out2, data, status);
    call.Take({*out1, *out2});
    const uint32_t bytes =
        *status == 0 ? call.tap.CyclicImageBytes(call.arguments[0], call.arguments[1]) : 0;
    call.Finish(*status, data, bytes);
}

TAP_FORM(AppGetCycParam, kCyclic, kOut);
QUN_EXPORT void QUN_CDECL AppGetCycParam(int16_t* channel, int16_t* number, void* record,
                                         int16_t* status) {
    ForwardPairWithData(qtrace::routine::AppGetCycParam, channel, number, record, status);
}

#undef TAP_FORM
#undef TAP_BUS
#undef TAP_NETWORK
#undef TAP_DATABASE
#undef TAP_CYCLIC

// The real library's module, for tools that look for functions of their own
// in it (the host program finds the simulated card's controls this way).
QUN_EXPORT void* QUN_CDECL TapRealModule(void) { return Tap::Instance().realModule(); }
