#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace platform {

std::int64_t RealClock::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void RealClock::sleepUntilUs(std::int64_t t) {
    std::int64_t d = t - nowUs();
    if (d > 0) std::this_thread::sleep_for(std::chrono::microseconds(d));
}

void VirtualClock::sleepUntilUs(std::int64_t t) {
    std::int64_t cur = now_.load();
    while (cur < t && !now_.compare_exchange_weak(cur, t)) {
    }
    // Let other threads see the new time before we go on.
    std::this_thread::yield();
}

namespace {
RealClock& realClock() {
    static RealClock c;
    return c;
}
std::atomic<Clock*> g_clock{nullptr};
}  // namespace

Clock& clock() {
    Clock* c = g_clock.load();
    return c ? *c : realClock();
}

Clock* setClock(Clock* c) {
    Clock* prev = g_clock.exchange(c);
    return prev ? prev : &realClock();
}

ScopedVirtualClock::ScopedVirtualClock(std::int64_t startUs) : clock_(startUs), previous_(setClock(&clock_)) {}

ScopedVirtualClock::~ScopedVirtualClock() {
    setClock(previous_ == &realClock() ? nullptr : previous_);
}

}  // namespace platform

void Sleep(DWORD ms) { platform::clock().sleepMs(static_cast<std::int64_t>(ms)); }
