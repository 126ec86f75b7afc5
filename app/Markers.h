// Markers while recording: a key 1-9 on the terminal, or a line of text sent
// to a local UDP port, marks the row being acquired when it arrives: its
// number goes into the "Marker" channel and its text becomes a BDF+
// annotation there.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class CMeAcqData09File;

namespace CLI {
class App;
}

namespace app {

struct MarkerOptions {
    int udpPort = -1;  // -1: no UDP; 0: a free port the system picks
    std::string udpHost = "127.0.0.1";
};
void addMarkerOptions(CLI::App* record, MarkerOptions& options);

class MarkerInput {
public:
    // rate and samples per trial turn progress into rows and seconds.
    MarkerInput(CMeAcqData09File& data, double rate);
    // Stops listening and gives the terminal back as it was.
    ~MarkerInput();
    MarkerInput(const MarkerInput&) = delete;
    MarkerInput& operator=(const MarkerInput&) = delete;

    // Listens on the UDP port (when given) and on the keys (when stdin is a
    // terminal); false with the reason in `error` when the port cannot be had.
    bool start(const MarkerOptions& options, std::string& error);
    // The UDP port listened on (0: none).
    int port() const { return port_; }
    // The recording has started: markers go to the rows being acquired from
    // now on; those that came before mark its first row.
    void arm();

private:
    void run();
    void mark(int code, const std::string& text);

    CMeAcqData09File& data_;
    double rate_;
    int udp_ = -1, wake_[2] = {-1, -1}, port_ = 0;
    bool keys_ = false;
    bool rawSet_ = false;
    termios savedTerm_{};
    std::thread thread_;
    std::mutex mutex_;  // guards the two below
    bool armed_ = false;
    std::vector<std::pair<int, std::string>> early_;
};

// The annotations of a BDF+/EDF+ file, one line each ("  12.340 s  text");
// false when it cannot be read.
bool printBdfAnnotations(const std::string& path);

}  // namespace app
