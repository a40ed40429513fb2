#include "lab/qunhost/card_control.h"

#include "driver/platform/abi.h"
#include "lab/qunhost/platform/system.h"

namespace qunhost {

namespace {

template <typename Function>
void Find(void* module, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(sys::FindFunction(module, name));
}

}  // namespace

#define QUNHOST_CARD_FUNCTIONS(X)                \
    X(routineByName, "ApcRoutineByName")         \
    X(scriptStatus, "ApcScriptStatus")           \
    X(setInstalledCards, "ApcSetInstalledCards") \
    X(poke, "ApcPoke")                           \
    X(pokeDatabaseBits, "ApcPokeDatabaseBits")   \
    X(pokeDatabaseWords, "ApcPokeDatabaseWords") \
    X(cyclicState, "ApcCyclicState")             \
    X(addSignal, "ApcAddSignal")                 \
    X(clearSignals, "ApcClearSignals")           \
    X(setFailureRate, "ApcSetFailureRate")       \
    X(setCallDelay, "ApcSetCallDelay")           \
    X(simulateReset, "ApcSimulateReset")         \
    X(journalClear, "ApcJournalClear")

// Looked up as well, but not required by complete().
#define QUNHOST_OPTIONAL_FUNCTIONS(X)  \
    X(replayStart, "ApcReplayStart")   \
    X(replayFinish, "ApcReplayFinish") \
    X(softcardStatusLine, "SoftcardStatusLine")

void CardControl::Resolve() {
    void* module = sys::LoadedModule(sys::kCardLibraryName);
    // Behind the recording tap the controls are in the library it forwards to.
    using RealModule = void*(QUN_CDECL*)();
    if (auto real = reinterpret_cast<RealModule>(sys::FindFunction(module, "TapRealModule")))
        module = real();
#define QUNHOST_FIND(field, name) Find(module, name, &field);
    QUNHOST_CARD_FUNCTIONS(QUNHOST_FIND)
    QUNHOST_OPTIONAL_FUNCTIONS(QUNHOST_FIND)
#undef QUNHOST_FIND
}

bool CardControl::complete() const { return MissingNames().empty(); }

std::string CardControl::MissingNames() const {
    std::string names;
#define QUNHOST_MISSING(field, name) \
    if (field == nullptr) names += std::string(names.empty() ? "" : ", ") + name;
    QUNHOST_CARD_FUNCTIONS(QUNHOST_MISSING)
#undef QUNHOST_MISSING
    return names;
}

}  // namespace qunhost
