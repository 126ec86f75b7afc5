// A dongle behind a memory port whose replies a test scripts one by one:
// every complete command (a radio frame 0xF0 cmd [arg], or one board command
// character) takes the next queued reply, which is due 2 ms after. Every
// command is logged.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/MegSerialPort.h"
#include "serialport/Backend.h"


namespace linktest {

class RadioScript : public mbeeg::serial::MemoryDevice {
public:
    // Queues the reply to the next command ("" for silence).
    void reply(const std::string& text);
    // Output that is due now, unasked.
    void send(const std::string& text);
    void setPlugged(bool p);

    std::vector<std::string> commandBytes() const;  // "\xF0\x01\x05", "d", ...
    void clearLog();

    bool plugged() const override;
    void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) override;
    std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) override;
    std::int64_t nextTransmitUs(std::int64_t nowUs) override;

private:
    void complete(std::int64_t nowUs);

    mutable std::mutex mu_;
    std::deque<std::string> replies_;
    std::vector<std::string> log_;
    std::string frame_;  // radio frame being received
    std::string out_;
    std::int64_t outDueUs_ = 0;
    bool plugged_ = true;
};

// Registers a memory dongle port COM<201+slot> for the script.
std::shared_ptr<RadioScript> registerRadioScript(int slot);

// The radio frame bytes as a string, for comparing with commandBytes().
std::string frame(int cmd, int arg = -1);

// Whether a second port object can open the port, i.e. its owner let it go.
bool portIsFree(const wchar_t* name);

}  // namespace linktest
