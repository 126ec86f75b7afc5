// The setup dialogs as real Qt windows on two simulated boards: connecting and
// one channel change done with widget events, checked on the widgets, with a
// screenshot of each window saved for the documentation.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "gui/QtUiBackend.h"
#include "platform/clock.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"
#include "ui/DialogTemplates.h"
#include "ui/DlgSetupMultiBoardBleCom.h"
#include "ui/DlgSetupMultiBoardEeg.h"

namespace {
QStringList itemsOf(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

// Answers every message box that comes up (the boxes run their own event
// loop, so this polls on a timer) and remembers what they said.
class BoxAnswerer : public QObject {
public:
    BoxAnswerer() {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }
    void answer(QMessageBox::StandardButton b) { queue_ << b; }
    QStringList seen;

private:
    void poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible()) continue;
            seen << box->text();
            QMessageBox::StandardButton b = !queue_.isEmpty() ? queue_.takeFirst()
                                            : (box->standardButtons() & QMessageBox::No) ? QMessageBox::No
                                                                                         : QMessageBox::Ok;
            QTest::mouseClick(box->button(b), Qt::LeftButton);
        }
    }
    QTimer timer_;
    QList<QMessageBox::StandardButton> queue_;
};
}  // namespace

class SetupGuiTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void connectionRoadWithRealWidgets();
    void eegChannelChangeWithRealWidgets();
    void cleanupTestCase();

private:
    template <class W>
    W* widget(CWnd* dlg, int id) {
        auto* w = qobject_cast<W*>(backend_.widgetOf(dlg, id));
        if (!w) qFatal("no widget for control %d", id);
        return w;
    }
    // Every text of the window fits its control, no two controls overlap (a
    // group box frames others), and the list's columns are as wide as their cells.
    void checkEveryTextFits(CWnd* dlg, int anyId) {
        using mbeeg::gui::QtUiBackend;
        QWidget* client = backend_.widgetOf(dlg, anyId)->parentWidget();
        const auto controls = client->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        auto name = [](QWidget* w) { return QtUiBackend::textsOf(w).value(0, w->metaObject()->className()); };
        for (QWidget* w : controls) {
            for (const QString& t : QtUiBackend::textsOf(w))
                QVERIFY2(QFontMetrics(w->font()).horizontalAdvance(t) <= QtUiBackend::textRoom(w), qPrintable(t));
            if (qobject_cast<QGroupBox*>(w)) continue;
            for (QWidget* o : controls)
                QVERIFY2(o == w || qobject_cast<QGroupBox*>(o) || !w->geometry().intersects(o->geometry()),
                         qPrintable(name(w) + " / " + name(o)));
        }
        for (QAbstractItemView* table : client->findChildren<QTableView*>())
            for (int c = 0; c < table->model()->columnCount(); ++c)
                QVERIFY2(table->sizeHintForColumn(c) <= static_cast<QTableView*>(table)->columnWidth(c),
                         qPrintable(table->model()->headerData(c, Qt::Horizontal).toString()));
    }
    void click(CWnd* dlg, int id) { QTest::mouseClick(widget<QPushButton>(dlg, id), Qt::LeftButton); }
    void saveShot(QWidget* w, const char* name) {
        const QString path = QStringLiteral(MBEEG_SOURCE_DIR "/docs/") + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY2(w->grab().save(path), qPrintable(path));
    }

    std::unique_ptr<platform::ScopedVirtualClock> clock_;
    std::unique_ptr<sim::SimRig> rig_;
    mbeeg::gui::QtUiBackend backend_;
    std::unique_ptr<BoxAnswerer> boxes_;
    CHdwrConfigzq cfg_;
    CMeAcqDatazq data_;
    std::unique_ptr<CDriveOpnBciMutiBoardzq> driver_;
};

void SetupGuiTest::initTestCase() {
    clock_ = std::make_unique<platform::ScopedVirtualClock>();
    mbeeg::serial::setRealPortsEnabled(false);
    mbeeg::serial::clearMemoryPorts();
    sim::SimConfig sc;
    sc.boards = 2;
    sc.seed = 3;
    rig_ = std::make_unique<sim::SimRig>(sc);
    rig_->plugIn();
    backend_.install();
    backend_.setAutoTimer(IDD_SETUP_MULTIBOARD_EEG, IDT_EEG_REFRESH, 1000);
    boxes_ = std::make_unique<BoxAnswerer>();

    cfg_.m_linkType = LINK_TYPE_CYTON8;
    cfg_.m_name = L"gui-test";
    driver_ = std::make_unique<CDriveOpnBciMutiBoardzq>();
    QCOMPARE(driver_->_01findConnectHdwr(&cfg_, &data_), 1);
    QVERIFY(driver_->m_pDlgEeg && driver_->m_pDlgBleCom);
    QVERIFY(backend_.windowOf(driver_->m_pDlgEeg)->isVisible());
    QVERIFY(backend_.windowOf(driver_->m_pDlgBleCom)->isVisible());
}

void SetupGuiTest::connectionRoadWithRealWidgets() {
    CDlgSetupMultiBoardBleCom* dlg = driver_->m_pDlgBleCom;
    QWidget* win = backend_.windowOf(dlg);
    const QString com1 = QString::fromStdString(rig_->portName(0));
    const QString com2 = QString::fromStdString(rig_->portName(1));
    QCOMPARE(itemsOf(widget<QComboBox>(dlg, IDC_BLE_PORT_BOX)), (QStringList{com1, com2}));
    QCOMPARE(itemsOf(widget<QComboBox>(dlg, IDC_BLE_BAUD_BOX)),
             (QStringList{"115200 Default", "230400 High-Speed", "921600 Hyper-Speed"}));
    QCOMPARE(widget<QComboBox>(dlg, IDC_BLE_DONGLE_CHNL_BOX)->count(), 25);
    QVERIFY(!widget<QCheckBox>(dlg, IDC_BLE_SYNCH)->isEnabled());

    // Close the first dongle's port, connect again, ask the radio.
    click(dlg, IDC_BLE_CLOSE);
    QCOMPARE(win->windowTitle(), QStringLiteral("Setup connection: "));
    click(dlg, IDC_BLE_AUTO_CONNECT);
    QVERIFY(widget<QPlainTextEdit>(dlg, IDC_BLE_MSG_PANE)->toPlainText().contains("Open:" + com1));
    click(dlg, IDC_BLE_RADIO_STATUS);
    QCOMPARE(win->windowTitle(), "Setup connection: PC-USB->" + com1 + "->Ble->EEG Board");
    QCOMPARE(widget<QLineEdit>(dlg, IDC_BLE_RADIO_CHNL)->text(), QString::number(rig_->dongle(0).channel()));

    // Hyper-speed asks in a real message box; No leaves the dongle as it was.
    QComboBox* baud = widget<QComboBox>(dlg, IDC_BLE_BAUD_BOX);
    QTest::keyClick(baud, Qt::Key_Down);
    QTest::keyClick(baud, Qt::Key_Down);
    QCOMPARE(baud->currentIndex(), 2);
    QCOMPARE(widget<QLineEdit>(dlg, IDC_BLE_BAUD_RATE)->text(), QStringLiteral("921600"));
    boxes_->answer(QMessageBox::No);
    const int seenBefore = boxes_->seen.size();
    click(dlg, IDC_BLE_SET_BAUD);
    QCOMPARE(boxes_->seen.size(), seenBefore + 1);
    QCOMPARE(boxes_->seen.last(), QStringLiteral("Baud rate 921600 or higher may not be supported!"));
    QCOMPARE(rig_->dongle(0).baud(), 115200u);

    QTest::qWait(20);
    checkEveryTextFits(dlg, IDC_BLE_PORT_BOX);
    saveShot(win, "setup-connection.png");
}

void SetupGuiTest::eegChannelChangeWithRealWidgets() {
    CDlgSetupMultiBoardEeg* dlg = driver_->m_pDlgEeg;
    QWidget* win = backend_.windowOf(dlg);
    QCOMPARE(win->windowTitle(), QStringLiteral("Setup:  User:MultiCyton2x8=16"));
    QCOMPARE(itemsOf(widget<QComboBox>(dlg, IDC_EEG_BOARD_BOX)), (QStringList{"Board1x8", "Board2x8"}));
    QComboBox* channels = widget<QComboBox>(dlg, IDC_EEG_CHANNEL_BOX);
    QCOMPARE(channels->count(), 8);
    QCOMPARE(channels->itemText(0), QStringLiteral("B1_Pin1_EEG1_FP1"));
    QCOMPARE(widget<QComboBox>(dlg, IDC_EEG_GAIN_BOX)->currentText(), QStringLiteral("Gain 24"));

    QTableView* table = backend_.tableOf(dlg, IDC_EEG_ELECTRODE_LIST);
    QVERIFY(table);
    QAbstractItemModel* model = table->model();
    QCOMPARE(model->rowCount(), 16);
    QCOMPARE(model->columnCount(), 11);
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Power Down"));
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("B1_Pin:1_EEG:1"));
    QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("24"));
    QCOMPARE(model->index(2, 2).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(0, 255, 0));

    // The timer runs while the window is shown.
    QVERIFY(dlg->hasTimer(IDT_EEG_REFRESH));

    // Second channel of board 2: power down, then "Set Select Chnls".
    QTest::keyClick(widget<QComboBox>(dlg, IDC_EEG_BOARD_BOX), Qt::Key_Down);
    QCOMPARE(channels->itemText(0), QStringLiteral("B2_Pin1_EEG9_T5"));
    QTest::keyClick(channels, Qt::Key_Down);
    QCOMPARE(channels->currentIndex(), 1);
    QCheckBox* powerDown = widget<QCheckBox>(dlg, IDC_EEG_POWER_DOWN);
    QTest::mouseClick(powerDown, Qt::LeftButton, {}, QPoint(6, powerDown->height() / 2));
    QVERIFY(powerDown->isChecked());
    QCOMPARE(dlg->m_powerDown, 1);
    click(dlg, IDC_EEG_SET_SELECT);
    clock_->get().advanceUs(50'000);
    QVERIFY(rig_->board(1).channelState(1).powerDown);
    QVERIFY(!rig_->board(0).channelState(1).powerDown);

    // Its row (the tenth) reads "Down" on dark red at once, in the model and on the screen.
    const QModelIndex cell = model->index(9, 2);
    QCOMPARE(cell.data().toString(), QStringLiteral("Down"));
    QCOMPARE(cell.data(Qt::BackgroundRole).value<QBrush>().color(), QColor(125, 0, 0));
    table->scrollTo(cell);
    const QImage shot = table->viewport()->grab().toImage();
    auto shown = [&](int row) {
        const QRect rect = table->visualRect(model->index(row, 2));
        return QColor(shot.pixel(rect.right() - 3, rect.center().y()));
    };
    QCOMPARE(shown(9), QColor(125, 0, 0));
    QCOMPARE(shown(1), QColor(0, 255, 0));

    QTest::qWait(20);
    checkEveryTextFits(dlg, IDC_EEG_CHANNEL_BOX);
    saveShot(win, "setup-eeg.png");

    // "Exit" hides the window and stops its timer; a new show brings both back.
    click(dlg, IDC_EEG_EXIT);
    QVERIFY(!win->isVisible());
    QVERIFY(!dlg->hasTimer(IDT_EEG_REFRESH));
    QCOMPARE(driver_->showDlgSetupMultiBoardEeg(&cfg_, &data_), 1);
    QVERIFY(win->isVisible());
    QVERIFY(dlg->hasTimer(IDT_EEG_REFRESH));
    QCOMPARE(model->rowCount(), 16);
}

void SetupGuiTest::cleanupTestCase() {
    driver_->cleanDevice();
    driver_->cleanConfigComBle2Board();
    driver_->cleanCloseFaceCom();
    driver_.reset();
    rig_.reset();
    mbeeg::serial::clearMemoryPorts();
    boxes_.reset();
    clock_.reset();
}

QTEST_MAIN(SetupGuiTest)
#include "setup_gui_test.moc"
