// The stand-in host runtime: the host log and the client services, scripted by
// the control functions of korvex_control.h.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "driver/platform/host.h"
#include "lab/korvex/korvex_control.h"

namespace {

struct LogLine {
    int32_t level;
    std::string text;
};

struct Client {
    uint8_t id;
    std::string name;
    bool shutdownPending;
};

struct Failure {
    int16_t status = 0;
    int32_t remaining = 0;  // < 0: until reset
};

// The whole host: one instance, guarded by one lock.
struct Host {
    std::mutex lock;
    std::condition_variable logged;
    std::vector<LogLine> log;
    bool discard = false;
    // discard without an echo: err stops after formatting, before the lock.
    std::atomic<bool> discardQuietly{false};
    FILE* echo = nullptr;
    bool echoOwned = false;

    std::vector<Client> clients;
    std::vector<std::string> requestedNames;
    uint8_t nextClientId = 1;
    uint32_t stationConfig = 0;
    int32_t backupMode = 0;
    std::deque<int32_t> queuedModes;
    uint16_t version = 820;
    std::string versionText = "Korvex 8.20";
    Failure failures[KVX_FUNCTION_COUNT];
    int32_t calls[KVX_FUNCTION_COUNT] = {};
};

Host& TheHost() {
    static Host host;
    return host;
}

// Counts the call and answers a scripted failure status, or 0.
int16_t Enter(Host& host, KvxFunction function) {
    ++host.calls[function];
    Failure& failure = host.failures[function];
    if (failure.remaining == 0) return 0;
    if (failure.remaining > 0) --failure.remaining;
    return failure.status;
}

Client* FindClient(Host& host, uint8_t id) {
    for (Client& client : host.clients)
        if (client.id == id) return &client;
    return nullptr;
}

void CloseEcho(Host& host) {
    if (host.echo != nullptr && host.echoOwned) std::fclose(host.echo);
    host.echo = nullptr;
    host.echoOwned = false;
}

void WriteEcho(Host& host, int32_t level, const char* text) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const int millis = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    std::fprintf(host.echo, "%02d:%02d:%02d.%03d %3d %s\n", local.tm_hour, local.tm_min,
                 local.tm_sec, millis, static_cast<int>(level), text);
    std::fflush(host.echo);
}

int32_t CopyText(const std::string& text, char* buffer, int32_t size) {
    if (buffer != nullptr && size > 0) {
        const size_t n = text.size() < static_cast<size_t>(size - 1) ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int32_t>(text.size());
}

}  // namespace

// ---- The host runtime's functions -------------------------------------------

QUN_EXPORT int32_t QUN_CDECL err(int32_t level, const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    Host& host = TheHost();
    // Measurements switch the log to discarding: the line has been formatted
    // like any other and goes no further, without a heap copy of it.
    if (host.discardQuietly.load(std::memory_order_relaxed)) return 0;
    std::string text;
    if (length >= static_cast<int>(sizeof line)) {
        text.resize(length + 1);
        va_start(args, format);
        std::vsnprintf(&text[0], text.size(), format, args);
        va_end(args);
        text.resize(length);
    } else {
        text.assign(line, length < 0 ? 0 : length);
    }
    std::lock_guard<std::mutex> guard(host.lock);
    if (host.echo != nullptr) WriteEcho(host, level, text.c_str());
    if (host.discard) return 0;
    host.log.push_back({level, std::move(text)});
    host.logged.notify_all();
    return 0;
}

QUN_EXPORT int16_t QUN_CDECL KorMkClient(const char* name, int32_t, int32_t, uint8_t* clientId) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    host.requestedNames.emplace_back(name);
    const int16_t status = Enter(host, KVX_MKCLIENT);
    if (status != 0) return status;
    uint8_t id = host.nextClientId++;
    if (host.nextClientId == 255) host.nextClientId = 1;  // 255 stays "no client"
    host.clients.push_back({id, name, false});
    *clientId = id;
    return 0;
}

QUN_EXPORT int16_t QUN_CDECL KorRmClient(uint8_t clientId) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    const int16_t status = Enter(host, KVX_RMCLIENT);
    if (status != 0) return status;
    for (size_t i = 0; i < host.clients.size(); ++i) {
        if (host.clients[i].id == clientId) {
            host.clients.erase(host.clients.begin() + static_cast<long>(i));
            return 0;
        }
    }
    return 1;  // no such client
}

QUN_EXPORT int16_t QUN_CDECL KorGetLocalStationCfg(uint8_t clientId, int32_t, int32_t, int32_t,
                                                   uint32_t* config, int32_t, int32_t) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    const int16_t status = Enter(host, KVX_STATIONCFG);
    if (status != 0) return status;
    if (FindClient(host, clientId) == nullptr) return 1;
    *config = host.stationConfig;
    return 0;
}

QUN_EXPORT int16_t QUN_CDECL KorGetBackupMode(uint8_t clientId, int32_t* mode) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    const int16_t status = Enter(host, KVX_BACKUPMODE);
    if (status != 0) return status;
    if (FindClient(host, clientId) == nullptr) return 1;
    if (!host.queuedModes.empty()) {
        host.backupMode = host.queuedModes.front();
        host.queuedModes.pop_front();
    }
    *mode = host.backupMode;
    return 0;
}

QUN_EXPORT int16_t QUN_CDECL KorWaitMsg(uint8_t clientId, void* message24, int32_t) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    const int16_t status = Enter(host, KVX_WAITMSG);
    if (status != 0) return status;
    Client* client = FindClient(host, clientId);
    if (client == nullptr || !client->shutdownPending) return 1;  // nothing has arrived
    client->shutdownPending = false;
    std::memset(message24, 0, 24);
    return 0;
}

QUN_EXPORT int16_t QUN_CDECL KorGetKorvexVer(uint8_t clientId, uint16_t* version, char* text100) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    const int16_t status = Enter(host, KVX_VERSION);
    if (status != 0) return status;
    if (FindClient(host, clientId) == nullptr) return 1;
    *version = host.version;
    CopyText(host.versionText, text100, 100);
    return 0;
}

// ---- Control ----------------------------------------------------------------

QUN_EXPORT int32_t QUN_CDECL KvxLogCount(void) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    return static_cast<int32_t>(host.log.size());
}

QUN_EXPORT int32_t QUN_CDECL KvxLogLine(int32_t index, int32_t* level, char* text, int32_t size) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    if (index < 0 || static_cast<size_t>(index) >= host.log.size()) return -1;
    if (level != nullptr) *level = host.log[index].level;
    return CopyText(host.log[index].text, text, size);
}

QUN_EXPORT void QUN_CDECL KvxLogClear(void) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    host.log.clear();
}

QUN_EXPORT void QUN_CDECL KvxLogEcho(const char* target) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    CloseEcho(host);
    host.discardQuietly.store(host.discard);
    if (target == nullptr || *target == '\0') return;
    if (std::strcmp(target, "-") == 0) {
        host.echo = stdout;
    } else {
        host.echo = std::fopen(target, "a");
        host.echoOwned = host.echo != nullptr;
    }
    host.discardQuietly.store(host.discard && host.echo == nullptr);
}

QUN_EXPORT void QUN_CDECL KvxLogDiscard(int32_t discard) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    host.discard = discard != 0;
    host.discardQuietly.store(host.discard && host.echo == nullptr);
}

QUN_EXPORT int32_t QUN_CDECL KvxLogWaitFor(const char* text, int32_t from, int32_t timeoutMs) {
    Host& host = TheHost();
    std::unique_lock<std::mutex> guard(host.lock);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t next = from < 0 ? 0 : static_cast<size_t>(from);
    for (;;) {
        for (; next < host.log.size(); ++next)
            if (host.log[next].text == text) return static_cast<int32_t>(next);
        if (host.logged.wait_until(guard, deadline) == std::cv_status::timeout) {
            for (; next < host.log.size(); ++next)
                if (host.log[next].text == text) return static_cast<int32_t>(next);
            return -1;
        }
    }
}

QUN_EXPORT void QUN_CDECL KvxReset(void) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    host.log.clear();
    host.discard = false;
    host.discardQuietly.store(false);
    CloseEcho(host);
    host.clients.clear();
    host.requestedNames.clear();
    host.nextClientId = 1;
    host.stationConfig = 0;
    host.backupMode = 0;
    host.queuedModes.clear();
    host.version = 820;
    host.versionText = "Korvex 8.20";
    for (Failure& failure : host.failures) failure = Failure{};
    for (int32_t& count : host.calls) count = 0;
}

QUN_EXPORT void QUN_CDECL KvxFailNext(int32_t function, int16_t status, int32_t count) {
    if (function < 0 || function >= KVX_FUNCTION_COUNT) return;
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    host.failures[function].status = status;
    host.failures[function].remaining = status == 0 ? 0 : count;
}

QUN_EXPORT void QUN_CDECL KvxSetStationConfig(uint32_t word) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    host.stationConfig = word;
}

QUN_EXPORT void QUN_CDECL KvxSetBackupMode(int32_t mode) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    host.queuedModes.clear();
    host.backupMode = mode;
}

QUN_EXPORT void QUN_CDECL KvxQueueBackupModes(const int32_t* modes, int32_t count) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    for (int32_t i = 0; i < count; ++i) host.queuedModes.push_back(modes[i]);
}

QUN_EXPORT void QUN_CDECL KvxPostShutdown(void) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    for (Client& client : host.clients) client.shutdownPending = true;
}

QUN_EXPORT void QUN_CDECL KvxSetVersion(uint16_t version, const char* text) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    host.version = version;
    host.versionText = text != nullptr ? text : "";
}

QUN_EXPORT int32_t QUN_CDECL KvxCallCount(int32_t function) {
    if (function < 0 || function >= KVX_FUNCTION_COUNT) return 0;
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    return host.calls[function];
}

QUN_EXPORT int32_t QUN_CDECL KvxClientCount(void) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    return static_cast<int32_t>(host.clients.size());
}

QUN_EXPORT int32_t QUN_CDECL KvxClientName(int32_t index, char* text, int32_t size) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    if (index < 0 || static_cast<size_t>(index) >= host.clients.size()) return -1;
    return CopyText(host.clients[index].name, text, size);
}

QUN_EXPORT int32_t QUN_CDECL KvxRequestedClientCount(void) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    return static_cast<int32_t>(host.requestedNames.size());
}

QUN_EXPORT int32_t QUN_CDECL KvxRequestedClientName(int32_t index, char* text, int32_t size) {
    Host& host = TheHost();
    std::lock_guard<std::mutex> guard(host.lock);
    if (index < 0 || static_cast<size_t>(index) >= host.requestedNames.size()) return -1;
    return CopyText(host.requestedNames[index], text, size);
}
