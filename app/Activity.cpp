#include "app/Activity.h"

#include <mutex>

namespace app {
namespace {
std::mutex g_mu;
std::string g_activity = "listing the serial ports";
}  // namespace

void watchSerialActivity() {}

std::string currentActivity() {
    std::lock_guard<std::mutex> lk(g_mu);
    return g_activity;
}
}  // namespace app
