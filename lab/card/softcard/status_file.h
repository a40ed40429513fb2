// The status file: each device's state where a plant's engineer can see it
// without a debugger (the host's standard error is read by nobody), rewritten
// every few seconds beside the settings, and its summary line for the host
// program. The text is made from plain records, so that it is tested without
// devices.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "lab/card/softcard/connection.h"
#include "lab/card/softcard/device_stats.h"
#include "lab/card/softcard/platform.h"

namespace softcard {

struct DeviceView {
    int32_t channel = 0;
    int32_t equipment = 0;
    std::string endpoint;  // host:port, or "line DEVICE 19200 8E1"
    int32_t unit = 0;
    int32_t sharedWith = 0;  // other equipments on its connection or line
    ConnectionState connection;
    DeviceStats::Snapshot stats;
    bool maskWriteRefused = false;
};

struct CardView {
    std::string settingsPath;
    int32_t periodSeconds = 0;
    std::time_t now = 0;
    std::time_t openedAt = 0;
    std::time_t closedAt = 0;  // 0 while the card is open
    std::vector<DeviceView> devices;
};

// The whole file.
std::string StatusText(const CardView& card);
// One line: the devices' states and the requests' statuses, e.g. "2 devices:
// 1 connected, 1 away (channel 0 equipment 2); 310 requests: 300 ok, 10
// status 70".
std::string SummaryLine(const CardView& card);

// Rewrites the status file every period on a thread of its own.
class StatusWriter {
public:
    ~StatusWriter() { Stop(); }
    // compose() gives the file's text; it is called on the writer's thread.
    void Start(const std::string& path, int32_t periodSeconds,
               std::function<std::string()> compose);
    // Ends the thread; the file keeps its last text.
    void Stop();
    // Writes text now (from any thread but the writer's). Answers "" or what
    // went wrong.
    std::string Write(const std::string& text);

private:
    static void Main(void* self);

    std::string path_;
    int32_t periodSeconds_ = 5;
    std::function<std::string()> compose_;
    Lock lock_;
    Condition wake_;
    bool stop_ = false;
    std::string lastProblem_;  // said once on the standard error stream
    SmallThread thread_;
};

}  // namespace softcard
