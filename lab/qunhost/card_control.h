// The simulated card's control functions, found at run time in the card
// library that the driver loaded (APPLICOM.dll, natively libAPPLICOM.so).
//
// The host program does not link them: with a card library that is not the
// simulated card (or an older one) it still runs every scenario that needs
// no plant, and says which statement needs what.
#pragma once

#include <string>

#include "lab/card/simulated/applicom_control.h"
#include "lab/card/softcard/softcard_control.h"

namespace qunhost {

struct CardControl {
    decltype(&ApcRoutineByName) routineByName = nullptr;
    decltype(&ApcScriptStatus) scriptStatus = nullptr;
    decltype(&ApcSetInstalledCards) setInstalledCards = nullptr;
    decltype(&ApcPoke) poke = nullptr;
    decltype(&ApcPokeDatabaseBits) pokeDatabaseBits = nullptr;
    decltype(&ApcPokeDatabaseWords) pokeDatabaseWords = nullptr;
    decltype(&ApcCyclicState) cyclicState = nullptr;
    decltype(&ApcAddSignal) addSignal = nullptr;
    decltype(&ApcClearSignals) clearSignals = nullptr;
    decltype(&ApcSetFailureRate) setFailureRate = nullptr;
    decltype(&ApcSetCallDelay) setCallDelay = nullptr;
    decltype(&ApcSimulateReset) simulateReset = nullptr;
    decltype(&ApcJournalClear) journalClear = nullptr;
    // Replay of a card-traffic trace (qunhost --replay); not needed otherwise.
    decltype(&ApcReplayStart) replayStart = nullptr;
    decltype(&ApcReplayFinish) replayFinish = nullptr;
    // Only the software card has it: its devices' states for the summary.
    decltype(&SoftcardStatusLine) softcardStatusLine = nullptr;

    // Looks the functions up in the loaded APPLICOM.dll. Missing ones stay null.
    void Resolve();
    // Whether every function above was found.
    bool complete() const;
    // Names of the functions that are missing, for a message.
    std::string MissingNames() const;
};

}  // namespace qunhost
