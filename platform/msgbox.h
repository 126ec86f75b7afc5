// AfxMessageBox routed to one replaceable handler. Programs print the text and
// answer by a policy; tests script the answers and see every message in order.
#pragma once

#include <functional>

#include "platform/afxstr.h"

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

int AfxMessageBox(const CString& text, UINT type = MB_OK, UINT helpId = 0);
inline int AfxMessageBox(const wchar_t* text, UINT type = MB_OK, UINT helpId = 0) {
    return AfxMessageBox(CString(text), type, helpId);
}
inline int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0) {
    return AfxMessageBox(CString(text), type, helpId);
}

namespace platform {
// Receives the text and the MB_ type; returns IDOK, IDYES or IDNO.
using MessageBoxHandler = std::function<int(const CString& text, UINT type)>;

// Installs a handler and returns the previous one. An empty handler restores
// the default, which prints to stderr and answers IDOK / IDNO.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// Records every message and answers Yes/No questions from a queue (then a
// default); for tests. Installs itself for its lifetime.
class ScriptedMessageBoxes {
public:
    explicit ScriptedMessageBoxes(int defaultYesNo = IDNO);
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    void answer(int reply);                 // queue a reply for the next Yes/No box
    std::vector<std::wstring> texts() const;  // every message shown so far, in order
    std::vector<UINT> types() const;
    void clear();

private:
    struct State;
    State* state_;
    MessageBoxHandler previous_;
};
}  // namespace platform
