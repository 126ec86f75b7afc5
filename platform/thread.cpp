#include "platform/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
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

struct CWinThread::Gate {
    std::mutex mu;
    std::condition_variable cv;
    bool open = false;
};

DWORD CWinThread::ResumeThread() {
    // Once the gate opens the thread may end and delete this handle: touch
    // nothing of it afterwards, and notify under the lock so the thread cannot
    // run on before we are done with the gate.
    Gate* g = gate_;
    if (!g) return 0;
    std::lock_guard<std::mutex> lk(g->mu);
    if (g->open) return 0;
    g->open = true;
    g->cv.notify_all();
    return 1;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT, DWORD flags, void*) {
    using namespace platform;
    auto* handle = new CWinThread;
    // The gate outlives the handle: a suspended thread may be resumed and end
    // before its starter has finished using the handle.
    auto gate = std::make_shared<CWinThread::Gate>();
    gate->open = (flags & CREATE_SUSPENDED) == 0;
    handle->gate_ = gate.get();
    std::lock_guard<std::mutex> lk(g_mu);
    g_threads.emplace_back();
    Entry* entry = &g_threads.back();
    entry->th = std::thread([proc, param, priority, handle, entry, gate] {
        {
            std::unique_lock<std::mutex> g(gate->mu);
            gate->cv.wait(g, [&] { return gate->open; });
        }
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
