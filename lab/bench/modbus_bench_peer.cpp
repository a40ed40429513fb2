// Modbus TCP devices for the software card's benchmark
// (scripts/softcard-bench.sh), all in one process on 127.0.0.1: healthy ones
// that answer every request from one register map, and silent ones that take
// connections and never answer. A native program, so that the devices cost
// the machine little and their clock is the system's.
//
//   modbus_bench_peer --healthy N --silent N --ready FILE --record FILE
//
// The ports go to --ready, one a line, the healthy ones first. At SIGTERM or
// SIGINT the time of each read request answered goes to --record, one line
// a request: "DEVICE ADDRESS MICROSECONDS", DEVICE the healthy port's index.
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t gStop = 0;

void Stop(int) { gStop = 1; }

int64_t Microseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

struct Record {
    uint16_t device;
    uint16_t address;
    int64_t microseconds;
};

// One listening port: a healthy device has a context to answer with.
struct Port {
    int listener = -1;
    int number = 0;
    modbus_t* context = nullptr;  // null: silent
};

struct Client {
    int socket;
    size_t port;
};

bool Listen(Port* port) {
    port->listener = socket(AF_INET, SOCK_STREAM, 0);
    if (port->listener < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(port->listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(port->listener, 16) != 0 ||
        getsockname(port->listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return false;
    port->number = ntohs(address.sin_port);
    return true;
}

// Reads one request of client and answers it (healthy) or drops it
// (silent); false when the connection ended.
bool Serve(const Client& client, Port& port, size_t device, modbus_mapping_t* registers,
           std::vector<Record>* records) {
    if (port.context == nullptr) {
        char discard[512];
        return recv(client.socket, discard, sizeof discard, 0) > 0;
    }
    uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
    modbus_set_socket(port.context, client.socket);
    const int length = modbus_receive(port.context, request);
    if (length <= 0) return length == 0;
    const int header = modbus_get_header_length(port.context);
    if (request[header] == MODBUS_FC_READ_HOLDING_REGISTERS) {
        const uint16_t address =
            static_cast<uint16_t>(request[header + 1] << 8 | request[header + 2]);
        records->push_back({static_cast<uint16_t>(device), address, Microseconds()});
    }
    return modbus_reply(port.context, request, length, registers) >= 0;
}

int Main(int healthy, int silent, const char* readyPath, const char* recordPath) {
    std::vector<Port> ports(static_cast<size_t>(healthy + silent));
    std::string list;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (!Listen(&ports[i])) {
            std::perror("modbus_bench_peer: listen");
            return 1;
        }
        if (static_cast<int>(i) < healthy)
            ports[i].context = modbus_new_tcp("127.0.0.1", ports[i].number);
        list += std::to_string(ports[i].number) + "\n";
    }
    modbus_mapping_t* registers = modbus_mapping_new(0, 0, 1000, 0);
    const std::string temporary = std::string(readyPath) + ".tmp";
    FILE* ready = std::fopen(temporary.c_str(), "w");
    if (ready == nullptr || registers == nullptr) return 1;
    std::fputs(list.c_str(), ready);
    std::fclose(ready);
    std::rename(temporary.c_str(), readyPath);

    std::vector<Client> clients;
    std::vector<Record> records;
    records.reserve(1 << 20);
    while (gStop == 0) {
        std::vector<pollfd> watched;
        for (const Port& port : ports) watched.push_back({port.listener, POLLIN, 0});
        for (const Client& client : clients) watched.push_back({client.socket, POLLIN, 0});
        if (poll(watched.data(), watched.size(), 100) <= 0) continue;
        std::vector<Client> kept;
        for (size_t i = 0; i < ports.size(); ++i)
            if (watched[i].revents & POLLIN) {
                const int socket = accept(ports[i].listener, nullptr, nullptr);
                if (socket >= 0) kept.push_back({socket, i});
            }
        for (size_t i = 0; i < clients.size(); ++i) {
            const Client& client = clients[i];
            if ((watched[ports.size() + i].revents & (POLLIN | POLLHUP | POLLERR)) == 0 ||
                Serve(client, ports[client.port], client.port, registers, &records))
                kept.push_back(client);
            else
                close(client.socket);
        }
        clients.swap(kept);
    }
    FILE* record = std::fopen(recordPath, "w");
    if (record == nullptr) return 1;
    for (const Record& r : records)
        std::fprintf(record, "%u %u %lld\n", r.device, r.address,
                     static_cast<long long>(r.microseconds));
    std::fclose(record);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int healthy = 0, silent = 0;
    const char* ready = nullptr;
    const char* record = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--healthy") healthy = std::atoi(argv[i + 1]);
        if (option == "--silent") silent = std::atoi(argv[i + 1]);
        if (option == "--ready") ready = argv[i + 1];
        if (option == "--record") record = argv[i + 1];
    }
    if (ready == nullptr || record == nullptr || healthy < 0 || silent < 0) {
        std::fprintf(
            stderr, "usage: modbus_bench_peer --healthy N --silent N --ready FILE --record FILE\n");
        return 2;
    }
    std::signal(SIGTERM, Stop);
    std::signal(SIGINT, Stop);
    std::signal(SIGPIPE, SIG_IGN);
    return Main(healthy, silent, ready, record);
}
