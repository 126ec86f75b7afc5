// The one serial device of the tests: it plugs into a memory port and plays
// what a dongle or board would, on the platform clock (virtual in tests):
// a transcript (the bytes the PC must write and the timed answers to them),
// answers by rule, unasked bytes, and a packet stream between two commands.
// It logs every write with its time.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/MegSerialPort.h"
#include "serialport/Backend.h"
#include "tests/support/Transcript.h"

class CConfigComRadiozq;
namespace sim {
class SimRig;
}

namespace mbeeg::test {

class ScriptedDevice : public serial::MemoryDevice {
    using Lock = std::lock_guard<std::mutex>;

public:
    struct Write {
        std::int64_t atUs;
        std::string bytes;
    };

    // The transcript's writes are expected in order; once one is complete its
    // answers fall due. Answers before the first write are due at once.
    void play(const std::vector<Exchange>& exchanges);
    // Empty when the PC wrote exactly the transcript's bytes so far.
    std::string scriptError() const { Lock l(m_); return scriptError_; }
    bool scriptDone() const { Lock l(m_); return step_ >= script_.size(); }

    // When the bytes written since the last answer end with command, text
    // falls due latencyUs later (< 0: the default latency, 1 ms unless set).
    // Rules added later are tried first.
    void reply(const std::string& command, const std::string& text, std::int64_t latencyUs = -1);
    void setDefaultLatencyUs(std::int64_t us) { Lock l(m_); latencyUs_ = us; }

    // Unasked bytes due at atUs (default now), or paced byteUs apart.
    void push(const std::string& bytes, std::int64_t atUs = -1, std::int64_t byteUs = 0);

    // A stream: after `start` is written, packet k falls due at k * periodUs
    // (from the first such time after the write) until `stop` is written.
    // packet(k) gives its bytes: "" for a packet lost on the radio.
    void setStream(char start, char stop, std::int64_t periodUs, std::function<std::string(std::int64_t)> packet);
    bool streaming() const { Lock l(m_); return streaming_; }

    std::string written() const;  // every byte, in order
    std::vector<Write> writes() const { Lock l(m_); return writes_; }
    std::vector<std::string> writeTexts() const;
    void clearWritten() { Lock l(m_); writes_.clear(); }
    unsigned lastLineRate() const { Lock l(m_); return lineRate_; }  // the rate the PC last set

    // Unplugged, the port fails until plugged again; queued bytes are lost.
    void unplug();
    void plug() { Lock l(m_); plugged_ = true; }
    void unplugAfterWrites(int n) { Lock l(m_); writesLeft_ = n; }

    bool plugged() const override { Lock l(m_); return plugged_; }
    void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) override;
    std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) override;
    std::int64_t nextTransmitUs(std::int64_t nowUs) override;
    void lineRate(unsigned baud) override { Lock l(m_); lineRate_ = baud; }

private:
    struct Rule {
        std::string command, text;
        std::int64_t latencyUs;
    };
    void queueLocked(const std::string& bytes, std::int64_t atUs, std::int64_t byteUs = 0);
    void scriptByte(char ch, std::int64_t nowUs);
    void generate(std::int64_t nowUs);

    mutable std::mutex m_;
    std::vector<Exchange> script_;
    std::size_t step_ = 0, stepGot_ = 0;
    std::string scriptError_;
    std::vector<Rule> rules_;
    std::deque<std::pair<std::int64_t, std::uint8_t>> out_;  // by due time
    std::string input_;                                       // written since the last answer
    std::vector<Write> writes_;
    std::int64_t latencyUs_ = 1000;
    unsigned lineRate_ = 0;
    bool plugged_ = true;
    int writesLeft_ = -1;
    char start_ = 0, stop_ = 0;
    std::int64_t periodUs_ = 0, next_ = 0;
    bool streaming_ = false;
    std::function<std::string(std::int64_t)> packet_;
};

// Registers a device as memory port k ("mem:<k>", alias COM<201+k>), listed as
// an FTDI dongle with serial "SCRIPT<k>" unless given; removed on destruction.
class ScopedMemoryPort {
public:
    explicit ScopedMemoryPort(std::shared_ptr<serial::MemoryDevice> device, int k = 0, std::string serial = "");
    ~ScopedMemoryPort();
    ScopedMemoryPort(const ScopedMemoryPort&) = delete;
    ScopedMemoryPort& operator=(const ScopedMemoryPort&) = delete;
    CString name() const { return CString(CStringA(desc_.alias)); }  // e.g. L"COM201"

private:
    serial::PortDescription desc_;
};

// Registers dev as memory dongle `slot` (named tag + slot) and opens the
// dongle's port, COM<201 + slot>, on it.
void plugInto(CConfigComRadiozq& dongle, int slot, const std::string& tag, std::shared_ptr<serial::MemoryDevice> dev);

// Whether a second port object can open the port, i.e. its owner let it go.
bool portIsFree(const wchar_t* name);

// Talking to simulated dongles through the serial-port library.
std::unique_ptr<CMegSerialPortzq> openDongle(const sim::SimRig& rig, int k);  // set up at 115200
// Writes the bytes one by one and returns what comes within waitMs.
std::string ask(CMegSerialPortzq& port, const std::string& bytes, int waitMs = 50);
std::string readFor(CMegSerialPortzq& port, std::int64_t us);  // on the platform clock

}  // namespace mbeeg::test
