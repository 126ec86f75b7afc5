// AfxBeginThread / AfxEndThread on the standard library.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

using AFX_THREADPROC = UINT (*)(LPVOID);

constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr DWORD CREATE_SUSPENDED = 0x4;

// The handle of a thread started by AfxBeginThread. It deletes itself when its
// thread ends (MFC's auto-delete); never delete it yourself.
class CWinThread {
public:
    UINT exitCode() const { return exitCode_; }
    // Starts a thread made with CREATE_SUSPENDED; returns the previous suspend count.
    DWORD ResumeThread();

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, void*);
    friend void AfxEndThread(UINT, BOOL);
    UINT exitCode_ = 0;
    struct Gate;
    Gate* gate_ = nullptr;  // holds a suspended thread until ResumeThread
};

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD flags = 0, void* security = nullptr);
// Ends the calling thread (which must have been started by AfxBeginThread).
void AfxEndThread(UINT exitCode, BOOL deleteThread = TRUE);

namespace platform {
// Waits until every thread started by AfxBeginThread has ended and joins it.
// Returns false if some are still running after timeoutMs real milliseconds.
bool joinAllThreads(int timeoutMs = 10000);
// Number of AfxBeginThread threads still running.
int runningThreads();
}  // namespace platform
