// Qt Widgets backend of the window layer: every dialog made from a template
// becomes a real window, laid out from dialog units as Windows scales them,
// its widgets mirroring the controls' state and feeding user actions back to
// the dialog's handlers through the same entry points the tests use.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>

#include "platform/controls.h"
#include "platform/msgbox.h"
#include "platform/uibackend.h"

class QWidget;
class QTimer;
class QAction;
class QMenu;
class QMenuBar;
class QTableView;

namespace mbeeg::gui {

class ListModel;
class DialogWidget;

class QtUiBackend final : public QObject, public platform::UiBackend {
    Q_OBJECT
public:
    QtUiBackend();
    ~QtUiBackend() override;

    // Installs itself as the layer's backend and message-box handler; the
    // destructor puts the previous ones back.
    void install();

    // Runs timer `timerId` with `periodMs` on every dialog made from that
    // template while the dialog is visible.
    void setAutoTimer(UINT templateId, UINT_PTR timerId, UINT periodMs);
    // Called after a window was hidden and no dialog window is visible.
    void setOnAllHidden(std::function<void()> fn) { onAllHidden_ = std::move(fn); }

    // The real widgets, for tests and screenshots.
    QWidget* windowOf(const CWnd* dlg) const;
    QWidget* widgetOf(const CWnd* dlg, int id) const;
    QTableView* tableOf(const CWnd* dlg, int id) const;

    // The texts a widget shows (a combo box: every entry) and the pixels its
    // style leaves for them; a text fits when its advance is at most the room.
    static QStringList textsOf(const QWidget* w);
    static int textRoom(const QWidget* w);

    // ---- platform::UiBackend
    void dialogBaseUnits(const platform::DialogTemplate& tpl, int& baseX, int& baseY) override;
    void windowCreated(CWnd* wnd) override;
    void windowDestroyed(CWnd* wnd) override;
    void changed(CWnd* wnd, unsigned what) override;
    void timerSet(CWnd* wnd, UINT_PTR id, UINT periodMs) override;
    void timerKilled(CWnd* wnd, UINT_PTR id) override;
    void waitCursor(int depth) override;

private:
    struct Dialog;
    struct Control {
        Dialog* owner = nullptr;
        QWidget* widget = nullptr;
        ListModel* model = nullptr;  // list views
        int kind = -1;
        bool fitPending = false;  // list views: column widths to fit
    };
    struct Dialog {
        CDialog* dlg = nullptr;
        QPointer<DialogWidget> top;
        QMenuBar* menuBar = nullptr;
        QWidget* client = nullptr;
        std::map<UINT, QAction*> actions;
        std::map<UINT_PTR, QTimer*> timers;
        std::map<QMenu*, int> popupIndex;
        std::map<const CWnd*, Control> controls;
    };

    Dialog* dialogOf(const CWnd* wnd) const;
    Control* controlOf(const CWnd* wnd) const;
    void buildControl(Dialog& d, CWnd* ctrl);
    void buildMenu(Dialog& d, CMenu& menu, QMenu* into, QMenuBar* bar);
    void syncControl(Control& c, CWnd* ctrl, unsigned what);
    void syncDialog(Dialog& d, unsigned what);
    void syncMenu(Dialog& d);
    void applyAutoTimer(Dialog& d);
    // Widens the dialog units until every control's text fits its control.
    void fitTexts(Dialog& d);
    // Column widths: the list's, scaled to the dialog's font, or the widest
    // cell or heading when that is wider.
    void fitColumns(QTableView* view, CListCtrl* list);
    // After a user action: colours may follow records the handler changed.
    void afterUserAction(Dialog* d);
    int messageBox(const CString& text, UINT type);
    void checkAllHidden();

    std::map<const CWnd*, std::unique_ptr<Dialog>> dialogs_;
    std::map<const CWnd*, Dialog*> controlOwner_;
    struct AutoTimer {
        UINT_PTR id;
        UINT periodMs;
    };
    std::map<UINT, AutoTimer> autoTimers_;
    std::function<void()> onAllHidden_;
    bool syncing_ = false;
    bool installed_ = false;
    platform::UiBackend* previousBackend_ = nullptr;
    platform::MessageBoxHandler previousBoxes_;
};

// The icon of the setup dialogs, drawn here (the layer only knows its id).
QIcon setupIcon();

}  // namespace mbeeg::gui
