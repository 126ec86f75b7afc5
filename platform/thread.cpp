#include "platform/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

namespace platform {
namespace {
struct ThreadExit {
    UINT code;
};

struct Entry {
    std::thread th;
    bool done = false;
};

std::mutex g_mu;
std::condition_variable g_cv;
std::list<Entry> g_threads;

void applyPriority(int priority) {
    // Best effort: a raised priority needs privileges we may not have.
    int nice = priority >= THREAD_PRIORITY_TIME_CRITICAL ? -10 : -priority * 2;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), nice);
}
}  // namespace

bool joinAllThreads(int timeoutMs) {
    std::unique_lock<std::mutex> lk(g_mu);
    bool all = g_cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [] {
        for (auto& e : g_threads)
            if (!e.done) return false;
        return true;
    });
    for (auto it = g_threads.begin(); it != g_threads.end();) {
        if (it->done) {
            if (it->th.joinable()) it->th.join();
            it = g_threads.erase(it);
        } else {
            ++it;
        }
    }
    return all;
}

int runningThreads() {
    std::lock_guard<std::mutex> lk(g_mu);
    int n = 0;
    for (auto& e : g_threads) n += e.done ? 0 : 1;
    return n;
}

}  // namespace platform

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT, DWORD, void*) {
    using namespace platform;
    auto* handle = new CWinThread;
    std::lock_guard<std::mutex> lk(g_mu);
    g_threads.emplace_back();
    Entry* entry = &g_threads.back();
    entry->th = std::thread([proc, param, priority, handle, entry] {
        applyPriority(priority);
        try {
            proc(param);
        } catch (const ThreadExit&) {
        }
        delete handle;
        std::lock_guard<std::mutex> lk2(g_mu);
        entry->done = true;
        g_cv.notify_all();
    });
    return handle;
}

void AfxEndThread(UINT exitCode, BOOL) { throw platform::ThreadExit{exitCode}; }
