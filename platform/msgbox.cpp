#include "platform/msgbox.h"

#include <cstdio>
#include <deque>
#include <mutex>

namespace platform {
namespace {
std::mutex g_mu;
MessageBoxHandler g_handler;

int defaultHandler(const CString& text, UINT type) {
    std::fprintf(stderr, "%s\n", narrow(text.str()).c_str());
    return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}
}  // namespace

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard<std::mutex> lk(g_mu);
    MessageBoxHandler prev = std::move(g_handler);
    g_handler = std::move(handler);
    return prev;
}

struct ScriptedMessageBoxes::State {
    mutable std::mutex mu;
    std::deque<int> replies;
    std::vector<std::wstring> texts;
    std::vector<UINT> types;
    int defaultYesNo;
};

ScriptedMessageBoxes::ScriptedMessageBoxes(int defaultYesNo) : state_(new State) {
    state_->defaultYesNo = defaultYesNo;
    State* st = state_;
    previous_ = setMessageBoxHandler([st](const CString& text, UINT type) {
        std::lock_guard<std::mutex> lk(st->mu);
        st->texts.push_back(text.str());
        st->types.push_back(type);
        if ((type & MB_TYPEMASK) != MB_YESNO) return IDOK;
        if (st->replies.empty()) return st->defaultYesNo;
        int r = st->replies.front();
        st->replies.pop_front();
        return r;
    });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() {
    setMessageBoxHandler(std::move(previous_));
    delete state_;
}

void ScriptedMessageBoxes::answer(int reply) {
    std::lock_guard<std::mutex> lk(state_->mu);
    state_->replies.push_back(reply);
}

std::vector<std::wstring> ScriptedMessageBoxes::texts() const {
    std::lock_guard<std::mutex> lk(state_->mu);
    return state_->texts;
}

std::vector<UINT> ScriptedMessageBoxes::types() const {
    std::lock_guard<std::mutex> lk(state_->mu);
    return state_->types;
}

void ScriptedMessageBoxes::clear() {
    std::lock_guard<std::mutex> lk(state_->mu);
    state_->texts.clear();
    state_->types.clear();
    state_->replies.clear();
}

}  // namespace platform

int AfxMessageBox(const CString& text, UINT type, UINT) {
    platform::MessageBoxHandler h;
    {
        std::lock_guard<std::mutex> lk(platform::g_mu);
        h = platform::g_handler;
    }
    return h ? h(text, type) : platform::defaultHandler(text, type);
}
