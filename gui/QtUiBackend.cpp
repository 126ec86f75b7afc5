#include "gui/QtUiBackend.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOption>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <unordered_map>

#include "platform/uitest.h"

namespace mbeeg::gui {

namespace {
using platform::ControlKind;

QString toQ(const CString& s) { return QString::fromStdWString(s.str()); }
CString fromQ(const QString& s) { return CString(s.toStdWString()); }

QColor toColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

QFont dialogFont(const platform::DialogTemplate& tpl) {
    QFont f(QString::fromWCharArray(tpl.fontName ? tpl.fontName : L"MS Shell Dlg"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(tpl.fontPointSize > 0 ? tpl.fontPointSize : 8);
    return f;
}

ControlKind kindOf(int k) { return static_cast<ControlKind>(k); }
}  // namespace

// The top-level window of a dialog: closing it is the dialog's IDCANCEL (it
// hides itself), Escape too.
class DialogWidget : public QWidget {
public:
    std::function<void()> onClose;

protected:
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        if (onClose) onClose();
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape && onClose) {
            onClose();
            return;
        }
        QWidget::keyPressEvent(e);
    }
};

// The dialog's client area; controls sit on it at their pixel rectangles.
class ClientWidget : public QWidget {
public:
    using QWidget::QWidget;
    std::function<void(int, int)> onResize;

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        if (onResize) onResize(e->size().width(), e->size().height());
    }
};

// A list control seen as a table: texts, headings, and the colours the
// control's cell callbacks give (asked once per cell until something changes).
class ListModel : public QAbstractTableModel {
public:
    explicit ListModel(CListCtrl* list, QObject* parent) : QAbstractTableModel(parent), list_(list) {}

    void detach() {
        beginResetModel();
        list_ = nullptr;
        colours_.clear();
        endResetModel();
    }
    void reset() {
        beginResetModel();
        colours_.clear();
        endResetModel();
    }
    void cellsChanged() {
        colours_.clear();
        if (rowCount({}) > 0 && columnCount({}) > 0)
            emit dataChanged(index(0, 0), index(rowCount({}) - 1, columnCount({}) - 1));
    }
    void coloursStale() {
        colours_.clear();
        if (rowCount({}) > 0 && columnCount({}) > 0)
            emit dataChanged(index(0, 0), index(rowCount({}) - 1, columnCount({}) - 1), {Qt::BackgroundRole});
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() || !list_ ? 0 : list_->GetItemCount();
    }
    int columnCount(const QModelIndex& parent) const override {
        if (parent.isValid() || !list_) return 0;
        return list_->columnCount() > 0 ? list_->columnCount() : 1;
    }
    QVariant data(const QModelIndex& idx, int role) const override {
        if (!list_ || !idx.isValid()) return {};
        const int r = idx.row();
        const int c = idx.column();
        switch (role) {
            case Qt::DisplayRole:
            case Qt::ToolTipRole:
                return toQ(list_->GetItemText(r, c));
            case Qt::BackgroundRole: {
                if (colours_.empty()) fillColours();
                auto it = colours_.find(static_cast<long>(r) * 4096 + c);
                return it == colours_.end() ? QVariant() : QVariant(QBrush(toColor(it->second)));
            }
            case Qt::ForegroundRole:
                return QBrush(toColor(list_->cellTextColor(r, c)));
            case Qt::DecorationRole:
                if (c == 0 && list_->GetImageList(LVSIL_SMALL) && list_->itemImage(r) >= 0) return setupIcon();
                return {};
            default:
                return {};
        }
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (!list_ || o != Qt::Horizontal || role != Qt::DisplayRole || section >= list_->columnCount()) return {};
        return toQ(list_->column(section).heading);
    }

private:
    // Every cell's colour in one pass, as one paint of the control asks them.
    void fillColours() const {
        list_->beginCellQueries();
        const int rows = list_->GetItemCount();
        const int cols = columnCount({});
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) colours_[static_cast<long>(r) * 4096 + c] = list_->cellBkColor(r, c);
        list_->endCellQueries();
    }

    CListCtrl* list_;
    mutable std::unordered_map<long, COLORREF> colours_;
};

QIcon setupIcon() {
    static QIcon icon = [] {
        QPixmap pm(32, 32);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(30, 90, 170));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(1, 1, 30, 30, 6, 6);
        QPainterPath wave;
        wave.moveTo(4, 17);
        const int ys[] = {17, 12, 21, 9, 24, 14, 18, 16};
        for (int i = 0; i < 8; ++i) wave.lineTo(7 + i * 3, ys[i]);
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
        return QIcon(pm);
    }();
    return icon;
}

QtUiBackend::QtUiBackend() = default;

QtUiBackend::~QtUiBackend() {
    if (installed_) {
        platform::setUiBackend(previousBackend_);
        platform::setMessageBoxHandler(std::move(previousBoxes_));
    }
    for (auto& [wnd, d] : dialogs_)
        if (d->top) delete d->top.data();
}

void QtUiBackend::install() {
    if (installed_) return;
    installed_ = true;
    previousBackend_ = platform::setUiBackend(this);
    previousBoxes_ = platform::setMessageBoxHandler([this](const CString& text, UINT type) { return messageBox(text, type); });
}

void QtUiBackend::setAutoTimer(UINT templateId, UINT_PTR timerId, UINT periodMs) {
    autoTimers_[templateId] = AutoTimer{timerId, periodMs};
}

QtUiBackend::Dialog* QtUiBackend::dialogOf(const CWnd* wnd) const {
    auto it = dialogs_.find(wnd);
    return it == dialogs_.end() ? nullptr : it->second.get();
}

QtUiBackend::Control* QtUiBackend::controlOf(const CWnd* wnd) const {
    auto it = controlOwner_.find(wnd);
    if (it == controlOwner_.end()) return nullptr;
    auto c = it->second->controls.find(wnd);
    return c == it->second->controls.end() ? nullptr : &c->second;
}

QWidget* QtUiBackend::windowOf(const CWnd* dlg) const {
    Dialog* d = dialogOf(dlg);
    return d ? d->top.data() : nullptr;
}

QWidget* QtUiBackend::widgetOf(const CWnd* dlg, int id) const {
    Dialog* d = dialogOf(dlg);
    if (!d) return nullptr;
    CWnd* ctrl = dlg->GetDlgItem(id);
    auto it = d->controls.find(ctrl);
    return it == d->controls.end() ? nullptr : it->second.widget;
}

QTableView* QtUiBackend::tableOf(const CWnd* dlg, int id) const { return qobject_cast<QTableView*>(widgetOf(dlg, id)); }

QStringList QtUiBackend::textsOf(const QWidget* w) {
    if (auto* cb = qobject_cast<const QComboBox*>(w)) {
        QStringList all;
        for (int i = 0; i < cb->count(); ++i) all << cb->itemText(i);
        return all;
    }
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return {b->text()};
    if (auto* l = qobject_cast<const QLabel*>(w)) return {l->text()};
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return {g->title()};
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return {e->text()};
    return {};
}

int QtUiBackend::textRoom(const QWidget* w) {
    QStyle* style = w->style();
    if (auto* cb = qobject_cast<const QComboBox*>(w)) {
        QStyleOptionComboBox opt;
        opt.initFrom(cb);
        opt.rect = cb->rect();
        opt.editable = cb->isEditable();
        opt.frame = cb->hasFrame();
        // The label is drawn one pixel inside the edit field on either side.
        return style->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, cb).width() - 2;
    }
    if (auto* check = qobject_cast<const QCheckBox*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(check);
        opt.rect = check->rect();
        opt.text = check->text();
        return style->subElementRect(QStyle::SE_CheckBoxContents, &opt, check).width();
    }
    if (auto* b = qobject_cast<const QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.rect = b->rect();
        opt.text = b->text();
        if (b->isDefault()) opt.features |= QStyleOptionButton::DefaultButton;
        const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &opt, b);
        return style->subElementRect(QStyle::SE_PushButtonContents, &opt, b).width() - margin;
    }
    if (auto* g = qobject_cast<const QGroupBox*>(w)) {
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.rect = g->rect();
        opt.text = g->title();
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect label = style->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
        return g->width() - 2 * label.left();
    }
    if (auto* e = qobject_cast<const QLineEdit*>(w)) {
        const int frame = e->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, e) : 0;
        const QMargins m = e->textMargins();
        return e->width() - 2 * frame - 4 - m.left() - m.right();  // Qt keeps 2 pixels each side
    }
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->contentsRect().width();
    return w->width();
}

void QtUiBackend::fitTexts(Dialog& d) {
    CDialog* dlg = d.dlg;
    int baseX = dlg->baseUnitX();
    for (auto& [ctrl, c] : d.controls) {
        const int du = ctrl->dialogUnitRect().Width();
        if (du <= 0 || c.model) continue;
        const QFontMetrics fm(c.widget->font());
        int widest = 0;
        for (const QString& t : textsOf(c.widget)) widest = std::max(widest, fm.horizontalAdvance(t));
        if (widest == 0) continue;
        // The style's frame, arrow or box takes the same pixels at any width;
        // one more for the rounding of the control's edges.
        const int chrome = c.widget->width() - textRoom(c.widget);
        const int need = widest + chrome + 1;
        baseX = std::max(baseX, (need * 4 + du - 1) / du);
    }
    if (baseX == dlg->baseUnitX()) return;
    dlg->setBaseUnits(baseX, dlg->baseUnitY());
    for (auto& [ctrl, c] : d.controls) syncControl(c, const_cast<CWnd*>(ctrl), platform::kChangeGeometry);
}

void QtUiBackend::fitColumns(QTableView* view, CListCtrl* list) {
    // Column widths are pixels at Windows' base units: scale them with the
    // font's (the cells' own widths take care of longer texts).
    const auto* dlg = dynamic_cast<const CDialog*>(list->GetParent());
    int baseX = platform::kDefaultBaseUnitX, baseY = platform::kDefaultBaseUnitY;
    if (dlg && dlg->dialogTemplate()) dialogBaseUnits(*dlg->dialogTemplate(), baseX, baseY);
    QHeaderView* header = view->horizontalHeader();
    for (int col = 0; col < list->columnCount(); ++col) {
        const int scaled = platform::mulDiv(list->column(col).width, baseX, platform::kDefaultBaseUnitX);
        const int content = std::max(static_cast<QAbstractItemView*>(view)->sizeHintForColumn(col), header->sectionSizeHint(col));
        view->setColumnWidth(col, std::max(scaled, content));
    }
}

void QtUiBackend::dialogBaseUnits(const platform::DialogTemplate& tpl, int& baseX, int& baseY) {
    // Windows: the average width of the 52 letters, rounded, and the height.
    QFontMetrics fm(dialogFont(tpl));
    int w = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = (w / 26 + 1) / 2;
    baseY = fm.height();
    if (baseX < 1 || baseY < 1) platform::UiBackend::dialogBaseUnits(tpl, baseX, baseY);
}

void QtUiBackend::windowCreated(CWnd* wnd) {
    auto* dlg = dynamic_cast<CDialog*>(wnd);
    if (!dlg || !dlg->dialogTemplate() || dialogOf(dlg)) return;
    auto d = std::make_unique<Dialog>();
    d->dlg = dlg;
    auto* top = new DialogWidget;
    top->setWindowFlag(Qt::Window);
    top->setFont(dialogFont(*dlg->dialogTemplate()));
    top->setWindowTitle(toQ(dlg->GetWindowText()));
    if (dlg->GetIcon(TRUE)) top->setWindowIcon(setupIcon());
    d->top = top;

    auto* layout = new QVBoxLayout(top);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (CMenu* menu = dlg->GetMenu()) {
        d->menuBar = new QMenuBar(top);
        d->menuBar->setNativeMenuBar(false);
        buildMenu(*d, *menu, nullptr, d->menuBar);
        layout->setMenuBar(d->menuBar);
    }
    auto* client = new ClientWidget(top);
    layout->addWidget(client);
    d->client = client;

    Dialog* dp = d.get();
    dialogs_[dlg] = std::move(d);
    for (CWnd* c : dlg->children()) buildControl(*dp, c);
    fitTexts(*dp);
    syncMenu(*dp);

    CRect rc;
    dlg->GetClientRect(&rc);
    const int menuHeight = dp->menuBar ? dp->menuBar->sizeHint().height() : 0;
    top->resize(rc.Width(), rc.Height() + menuHeight);

    top->onClose = [this, dlg] {
        if (!dialogOf(dlg)) return;
        platform::ui::closeWindow(*dlg);
    };
    client->onResize = [this, dlg](int w, int h) {
        if (syncing_ || !dialogOf(dlg)) return;
        CRect r;
        dlg->GetClientRect(&r);
        if (r.Width() != w || r.Height() != h) platform::ui::resize(*dlg, w, h);
    };
    if (dlg->IsWindowVisible()) top->show();
    applyAutoTimer(*dp);
}

void QtUiBackend::buildMenu(Dialog& d, CMenu& menu, QMenu* into, QMenuBar* bar) {
    CDialog* dlg = d.dlg;
    for (int i = 0; i < menu.GetMenuItemCount(); ++i) {
        const CMenu::Item& item = menu.items()[static_cast<size_t>(i)];
        if (item.popup) {
            QMenu* m = bar ? bar->addMenu(toQ(item.text)) : into->addMenu(toQ(item.text));
            if (bar) {
                d.popupIndex[m] = i;
                connect(m, &QMenu::aboutToShow, this, [this, dlg, i] {
                    if (!dialogOf(dlg)) return;
                    platform::ui::openMenu(*dlg, i);
                    if (Dialog* dd = dialogOf(dlg)) syncMenu(*dd);
                });
            }
            buildMenu(d, *item.popup, m, nullptr);
        } else {
            QAction* a = bar ? bar->addAction(toQ(item.text)) : into->addAction(toQ(item.text));
            a->setCheckable(into != nullptr);
            const UINT id = item.id;
            connect(a, &QAction::triggered, this, [this, dlg, id] {
                if (!dialogOf(dlg)) return;
                platform::ui::chooseMenu(*dlg, id);
                afterUserAction(dialogOf(dlg));
                if (Dialog* dd = dialogOf(dlg)) syncMenu(*dd);
            });
            d.actions[id] = a;
        }
    }
}

void QtUiBackend::syncMenu(Dialog& d) {
    CMenu* menu = d.dlg->GetMenu();
    if (!menu) return;
    for (auto& [id, a] : d.actions) {
        UINT state = menu->GetMenuState(id, MF_BYCOMMAND);
        if (state == static_cast<UINT>(-1)) continue;
        a->setChecked((state & MF_CHECKED) != 0);
        a->setEnabled((state & MF_GRAYED) == 0);
    }
}

void QtUiBackend::buildControl(Dialog& d, CWnd* ctrl) {
    CDialog* dlg = d.dlg;
    const int id = static_cast<int>(ctrl->GetDlgCtrlID());
    QWidget* parent = d.client;
    QWidget* w = nullptr;
    ListModel* model = nullptr;
    switch (kindOf(ctrl->templateKind())) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* b = new QPushButton(toQ(ctrl->GetWindowText()), parent);
            b->setAutoDefault(false);
            b->setDefault(kindOf(ctrl->templateKind()) == ControlKind::DefPushButton);
            connect(b, &QPushButton::clicked, this, [this, dlg, id] {
                if (!dialogOf(dlg)) return;
                platform::ui::click(*dlg, id);
                afterUserAction(dialogOf(dlg));
            });
            w = b;
            break;
        }
        case ControlKind::GroupBox: {
            auto* g = new QGroupBox(toQ(ctrl->GetWindowText()), parent);
            g->setAttribute(Qt::WA_TransparentForMouseEvents);
            w = g;
            break;
        }
        case ControlKind::Label:
            w = new QLabel(toQ(ctrl->GetWindowText()), parent);
            break;
        case ControlKind::Edit: {
            auto* e = new QLineEdit(toQ(ctrl->GetWindowText()), parent);
            connect(e, &QLineEdit::textEdited, this, [this, dlg, id](const QString& text) {
                if (!dialogOf(dlg)) return;
                if (CWnd* c = dlg->GetDlgItem(id)) {
                    c->userSetText(fromQ(text));
                    dlg->OnCommand(static_cast<UINT>(id), EN_CHANGE);
                }
            });
            w = e;
            break;
        }
        case ControlKind::DropDownList: {
            auto* cb = new QComboBox(parent);
            cb->setMaxVisibleItems(25);
            connect(cb, &QComboBox::activated, this, [this, dlg, id](int index) {
                if (!dialogOf(dlg)) return;
                platform::ui::selectComboEntry(*dlg, id, index);
                afterUserAction(dialogOf(dlg));
            });
            w = cb;
            break;
        }
        case ControlKind::AutoCheckBox: {
            auto* cb = new QCheckBox(toQ(ctrl->GetWindowText()), parent);
            connect(cb, &QCheckBox::clicked, this, [this, dlg, id] {
                if (!dialogOf(dlg)) return;
                platform::ui::click(*dlg, id);
                afterUserAction(dialogOf(dlg));
            });
            w = cb;
            break;
        }
        case ControlKind::RichEdit: {
            auto* te = new QPlainTextEdit(parent);
            te->setLineWrapMode(QPlainTextEdit::NoWrap);
            connect(te, &QPlainTextEdit::textChanged, this, [this, dlg, id, te] {
                if (syncing_ || !dialogOf(dlg)) return;
                if (CWnd* c = dlg->GetDlgItem(id)) c->userSetText(fromQ(te->toPlainText()));
            });
            w = te;
            break;
        }
        case ControlKind::ListView: {
            auto* list = dynamic_cast<CListCtrl*>(ctrl);
            auto* view = new QTableView(parent);
            model = new ListModel(list, view);
            view->setModel(model);
            view->verticalHeader()->hide();
            view->verticalHeader()->setDefaultSectionSize(QFontMetrics(view->font()).height() + 6);
            view->setSelectionBehavior(QAbstractItemView::SelectRows);
            view->setSelectionMode(QAbstractItemView::SingleSelection);
            view->setEditTriggers(QAbstractItemView::NoEditTriggers);
            view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            view->setShowGrid(false);
            connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                    [this, dlg, id](const QModelIndex& current) {
                        if (syncing_ || !dialogOf(dlg) || !current.isValid()) return;
                        platform::ui::selectListRow(*dlg, id, current.row());
                        afterUserAction(dialogOf(dlg));
                    });
            w = view;
            break;
        }
    }
    if (!w) return;
    d.controls[ctrl] = Control{&d, w, model, ctrl->templateKind()};
    controlOwner_[ctrl] = &d;
    syncControl(d.controls[ctrl], ctrl, ~0u);
    if (kindOf(ctrl->templateKind()) == ControlKind::GroupBox) w->lower();
}

void QtUiBackend::syncControl(Control& c, CWnd* ctrl, unsigned what) {
    const bool was = syncing_;
    syncing_ = true;
    QWidget* w = c.widget;
    const ControlKind kind = kindOf(c.kind);
    if (what & platform::kChangeText) {
        const QString text = toQ(ctrl->GetWindowText());
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            b->setText(text);
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            g->setTitle(text);
        else if (auto* l = qobject_cast<QLabel*>(w))
            l->setText(text);
        else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            if (e->text() != text) e->setText(text);
        } else if (auto* te = qobject_cast<QPlainTextEdit*>(w)) {
            if (te->toPlainText() != text) te->setPlainText(text);
        }
    }
    if (what & (platform::kChangeGeometry | platform::kChangeItems)) {
        CRect r;
        ctrl->GetWindowRect(&r);
        int h = r.Height();
        if (kind == ControlKind::DropDownList) h = std::min(h, w->sizeHint().height());
        w->setGeometry(r.left, r.top, r.Width(), h);
    }
    if (what & platform::kChangeEnabled) w->setEnabled(ctrl->IsWindowEnabled());
    if (what & platform::kChangeVisible) w->setVisible(ctrl->IsWindowVisible());
    auto* cb = qobject_cast<QComboBox*>(w);
    auto* box = dynamic_cast<CComboBox*>(ctrl);
    if (cb && box) {
        if (what & platform::kChangeItems) {
            cb->clear();
            for (const CString& s : box->items()) cb->addItem(toQ(s));
        }
        if (what & (platform::kChangeItems | platform::kChangeSelection)) cb->setCurrentIndex(box->GetCurSel());
    }
    auto* check = qobject_cast<QCheckBox*>(w);
    auto* button = dynamic_cast<CButton*>(ctrl);
    if (check && button && (what & platform::kChangeCheck)) check->setChecked(button->GetCheck() == BST_CHECKED);
    if (c.model) {
        auto* view = qobject_cast<QTableView*>(w);
        auto* list = dynamic_cast<CListCtrl*>(ctrl);
        if (what & platform::kChangeItems)
            c.model->reset();
        else if (what & platform::kChangeCells)
            c.model->cellsChanged();
        // Measuring the cells asks their colours, which must not happen inside
        // the handler that is still filling the list: fit once it is done.
        if (list && (what & (platform::kChangeItems | platform::kChangeCells)) && !c.fitPending) {
            c.fitPending = true;
            QTimer::singleShot(0, view, [this, view, list] {
                Control* lc = controlOf(list);
                if (!lc) return;
                lc->fitPending = false;
                fitColumns(view, list);
            });
        }
        if (what & (platform::kChangeRedraw | platform::kChangeStyle)) c.model->coloursStale();
        if (list && (what & platform::kChangeStyle)) view->setShowGrid((list->GetExtendedStyle() & LVS_EX_GRIDLINES) != 0);
        if (list && (what & (platform::kChangeSelection | platform::kChangeItems))) {
            int sel = list->GetNextItem(-1, LVNI_SELECTED);
            if (sel >= 0)
                view->selectionModel()->setCurrentIndex(c.model->index(sel, 0),
                                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            else
                view->clearSelection();
        }
    }
    if (what & platform::kChangeRedraw) w->update();
    syncing_ = was;
}

void QtUiBackend::syncDialog(Dialog& d, unsigned what) {
    DialogWidget* top = d.top.data();
    if (!top) return;
    if (what & platform::kChangeText) top->setWindowTitle(toQ(d.dlg->GetWindowText()));
    if (what & platform::kChangeIcon) top->setWindowIcon(setupIcon());
    if (what & platform::kChangeMenu) syncMenu(d);
    if (what & platform::kChangeVisible) {
        if (d.dlg->IsWindowVisible()) {
            top->show();
        } else {
            top->hide();
            checkAllHidden();
        }
        applyAutoTimer(d);
    }
    if (what & platform::kChangeForeground) {
        top->raise();
        top->activateWindow();
    }
}

void QtUiBackend::changed(CWnd* wnd, unsigned what) {
    if (Dialog* d = dialogOf(wnd)) {
        syncDialog(*d, what);
        return;
    }
    if (Control* c = controlOf(wnd)) syncControl(*c, wnd, what);
}

void QtUiBackend::applyAutoTimer(Dialog& d) {
    auto it = autoTimers_.find(d.dlg->dialogTemplate() ? d.dlg->dialogTemplate()->id : 0);
    if (it == autoTimers_.end()) return;
    const AutoTimer& t = it->second;
    if (d.dlg->IsWindowVisible()) {
        if (!d.dlg->hasTimer(t.id)) d.dlg->SetTimer(t.id, t.periodMs);
    } else if (d.dlg->hasTimer(t.id)) {
        d.dlg->KillTimer(t.id);
    }
}

void QtUiBackend::timerSet(CWnd* wnd, UINT_PTR id, UINT periodMs) {
    Dialog* d = dialogOf(wnd);
    if (!d || !d->top) return;
    QTimer*& t = d->timers[id];
    if (!t) {
        t = new QTimer(d->top.data());
        connect(t, &QTimer::timeout, this, [this, wnd, id] {
            if (dialogOf(wnd)) platform::ui::fireTimer(*wnd, id);
        });
    }
    t->start(static_cast<int>(periodMs));
}

void QtUiBackend::timerKilled(CWnd* wnd, UINT_PTR id) {
    Dialog* d = dialogOf(wnd);
    if (!d) return;
    auto it = d->timers.find(id);
    if (it == d->timers.end()) return;
    it->second->stop();
    it->second->deleteLater();
    d->timers.erase(it);
}

void QtUiBackend::windowDestroyed(CWnd* wnd) {
    auto it = dialogs_.find(wnd);
    if (it != dialogs_.end()) {
        Dialog& d = *it->second;
        for (auto& [id, t] : d.timers) t->stop();
        for (auto& [ctrl, c] : d.controls) {
            if (c.model) c.model->detach();
            controlOwner_.erase(ctrl);
        }
        // The window may be in the middle of delivering the event that got
        // here: let Qt delete it once that is done.
        if (d.top) {
            d.top->hide();
            d.top->deleteLater();
        }
        dialogs_.erase(it);
        checkAllHidden();
        return;
    }
    auto owner = controlOwner_.find(wnd);
    if (owner == controlOwner_.end()) return;
    Dialog* d = owner->second;
    auto c = d->controls.find(wnd);
    if (c != d->controls.end()) {
        if (c->second.model) c->second.model->detach();
        d->controls.erase(c);
    }
    controlOwner_.erase(owner);
}

void QtUiBackend::waitCursor(int depth) {
    static int shown = 0;
    if (depth > 0 && shown == 0) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        shown = 1;
    } else if (depth == 0 && shown == 1) {
        QApplication::restoreOverrideCursor();
        shown = 0;
    }
}

void QtUiBackend::afterUserAction(Dialog* d) {
    // A handler may have changed the records behind the cells' colours.
    for (auto& [wnd, dp] : dialogs_)
        for (auto& [ctrl, c] : dp->controls)
            if (c.model) c.model->coloursStale();
    (void)d;
}

void QtUiBackend::checkAllHidden() {
    if (!onAllHidden_) return;
    for (auto& [wnd, d] : dialogs_)
        if (d->dlg->IsWindowVisible()) return;
    QTimer::singleShot(0, this, [this] {
        for (auto& [wnd, d] : dialogs_)
            if (d->dlg->IsWindowVisible()) return;
        if (onAllHidden_) onAllHidden_();
    });
}

int QtUiBackend::messageBox(const CString& text, UINT type) {
    const UINT kind = type & MB_TYPEMASK;
    if (QThread::currentThread() != qApp->thread()) {
        // Only the UI thread may show windows; others get the plain answer.
        std::fprintf(stderr, "%s\n", platform::narrow(text.str()).c_str());
        return kind == MB_YESNO ? IDNO : IDOK;
    }
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QStringLiteral("mbeeg"));
    box.setText(toQ(text));
    if (kind == MB_YESNO) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    } else if (kind == MB_OKCANCEL) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    } else {
        box.setIcon((type & MB_ICONEXCLAMATION) == MB_ICONEXCLAMATION ? QMessageBox::Warning
                                                                       : QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
    }
    // The question is no time to show the wait cursor.
    const bool waiting = platform::waitCursorDepth() > 0;
    if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int r = box.exec();
    if (waiting) QApplication::restoreOverrideCursor();
    switch (r) {
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Cancel: return IDCANCEL;
        default: return kind == MB_YESNO ? IDNO : IDOK;
    }
}

}  // namespace mbeeg::gui
