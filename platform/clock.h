// Every wait of the protocols goes through one injectable clock: the real one
// for programs, a virtual one for tests, so fixed waits cost no real time.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/wintypes.h"

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time in microseconds.
    virtual std::int64_t nowUs() = 0;
    // Blocks until the clock reads at least t (a virtual clock jumps there).
    virtual void sleepUntilUs(std::int64_t t) = 0;
    // Whether waits pass real time; real-only code (ptys) can check this.
    virtual bool isVirtual() const = 0;

    std::int64_t nowMs() { return nowUs() / 1000; }
    void sleepMs(std::int64_t ms) { sleepUntilUs(nowUs() + ms * 1000); }
    void sleepUs(std::int64_t us) { sleepUntilUs(nowUs() + us); }
};

class RealClock final : public Clock {
public:
    std::int64_t nowUs() override;
    void sleepUntilUs(std::int64_t t) override;
    bool isVirtual() const override { return false; }
};

// Time moves only when somebody waits. Safe to use from several threads.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::int64_t startUs = 0) : now_(startUs) {}
    std::int64_t nowUs() override { return now_.load(); }
    void sleepUntilUs(std::int64_t t) override;
    bool isVirtual() const override { return true; }
    void advanceUs(std::int64_t us) { sleepUntilUs(now_.load() + us); }

private:
    std::atomic<std::int64_t> now_;
};

// A point in time on a clock, for the loops that wait until something comes
// or the time is up.
class Deadline {
public:
    Deadline(Clock& c, std::int64_t inUs) : clock_(c), atUs_(c.nowUs() + (inUs > 0 ? inUs : 0)) {}
    static Deadline inMs(Clock& c, std::int64_t ms) { return Deadline(c, ms * 1000); }
    bool passed() const { return clock_.nowUs() >= atUs_; }
    // Time left, never negative.
    std::int64_t leftUs() const {
        const std::int64_t left = atUs_ - clock_.nowUs();
        return left > 0 ? left : 0;
    }
    std::int64_t atUs() const { return atUs_; }

private:
    Clock& clock_;
    std::int64_t atUs_;
};

// The clock in force (the real one unless a test installed another).
Clock& clock();
// Installs a clock (nullptr restores the real one); returns the previous.
Clock* setClock(Clock* c);

// Installs a fresh virtual clock for its lifetime.
class ScopedVirtualClock {
public:
    explicit ScopedVirtualClock(std::int64_t startUs = 1'000'000);
    ~ScopedVirtualClock();
    VirtualClock& get() { return clock_; }
    ScopedVirtualClock(const ScopedVirtualClock&) = delete;
    ScopedVirtualClock& operator=(const ScopedVirtualClock&) = delete;

private:
    VirtualClock clock_;
    Clock* previous_;
};

}  // namespace platform

// Win32 Sleep, on the clock in force.
void Sleep(DWORD ms);
