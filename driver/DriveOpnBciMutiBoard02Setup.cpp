#include "driver/DriveOpnBciMutiBoard02Setup.h"

#include "board/BoardCommands.h"
#include "common/OptionTables.h"

using board::kWriteWaitMs;

namespace {
const char* const kMsg200Chnl = "Only multi-CytonDaisy device has more than 200 channels!?";
const char* const kHeaderDefaults = "\n GetDefaultSettings for all channels\n";

void addInfo(const CStringA& text) { CAcqDriver02Prcs::addInfoStatus(CString(text)); }

// The query on every board in turn. A failed write ends it with the failure
// alone: what earlier boards answered is dropped.
CStringA runBoardQuery(CDriveOpnBciMutiBoard02Setup& drv, const board::Query& q, int reply) {
    CStringA result;
    for (CConfigComRadiozq* dongle : drv.m_dongles) {
        const CHdwrConfigzq* det = drv.m_pConfigDetect;
        if (!det) continue;
        if (det->m_linkType == LINK_TYPE_CYTON8) {
            drv.m_chnPerBoard = 8;
        } else if (det->m_linkType == LINK_TYPE_DAISY16) {
            drv.m_chnPerBoard = 16;
        } else {
            continue;
        }
        if (!dongle || !dongle->m_pSerialPort || !dongle->m_pSerialPort->isOpen()) continue;
        CStringA text, failure;
        if (!board::runQuery(*dongle->m_pSerialPort, q, reply != 0, text, failure)) return failure;
        result += text;
    }
    return result;
}

board::Query oneByte(unsigned char b, const char* failure, const char* header) {
    return board::oneByteQuery(b, failure, header);
}
}  // namespace

CDriveOpnBciMutiBoard02Setup::~CDriveOpnBciMutiBoard02Setup() = default;

unsigned int CDriveOpnBciMutiBoard02Setup::gainCodeOf(int gain) { return board::gainCodeOf(gain); }

CStringA CDriveOpnBciMutiBoard02Setup::resetBoard(int) {
    CStringA result;
    for (CConfigComRadiozq* dongle : m_dongles) {
        if (!dongle || !dongle->m_pSerialPort || !dongle->m_pSerialPort->isOpen()) continue;
        CMegSerialPortzq* port = dongle->m_pSerialPort;
        port->purgeAll();
        CStringA reply;
        port->sendCmdGetRspst(CStringA("v"), reply, kWriteWaitMs);
        result += reply;
    }
    return result;
}

CStringA CDriveOpnBciMutiBoard02Setup::startStream(int) { return CStringA(); }

CStringA CDriveOpnBciMutiBoard02Setup::stopStream(int) { return CStringA(); }

CStringA CDriveOpnBciMutiBoard02Setup::configureChannels(ChnGeomList& geoms, int reply) {
    // Every record that carries a settings block is sent. The block holds the
    // channel's complete settings (gain, input type, power, bias, SRB) and both
    // the defaults and every edit of the EEG setup dialog fill gain and input
    // type together, so sending on anything narrower would skip exactly the
    // channels the user changed. A gain of 0 or an unknown input type text still
    // gives a well-formed frame (gain 24, "Normal").
    CStringA result;
    for (std::uint32_t i = 0; i < geoms.Size(); ++i) {
        CAcqChnlGeomzq* geom = geoms[i];
        if (!geom || geom->m_hdwrParamKind != OPENBCIPARAM_BLOCK_KIND || !geom->getHdwrParam()) continue;
        const auto* p = static_cast<const OPENBCIPARAMV1*>(geom->getHdwrParam());

        const unsigned int gainCode = board::gainCodeOf(p->gain);
        const unsigned int inputCode = board::inputTypeCodeOf(p->inputTypeText);
        bool poweredDown = p->powerDown != 0;
        // A powered-down channel leaves the bias drive and SRB2.
        bool bias = !poweredDown && p->includeBias != 0;
        bool srb2 = !poweredDown && p->srb2 != 0;
        bool srb1 = p->srb1 != 0;

        if (!poweredDown) (void)turnOnOffChnl(i, 1, reply);
        CStringA r = sendChannelCommands(i, p->powerDown, gainCode, inputCode, bias, srb2, srb1, reply);
        if (!r.IsEmpty()) result += r;
    }
    return result;
}

CStringA CDriveOpnBciMutiBoard02Setup::sendChannelCommands(unsigned int channel, int powerDown, unsigned int gainCode,
                                                           unsigned int inputType, bool bias, bool srb2, bool srb1,
                                                           int reply) {
    if (channel > 399) return CStringA();
    if (channel >= 200 && m_pDevice && m_pDevice->m_linkType == LINK_TYPE_CYTON8) {
        AfxMessageBox(kMsg200Chnl);
        return CStringA();
    }
    int pin = 0;
    char letter = getChar4Chnl(static_cast<int>(channel), pin);
    const CStringA frame = board::channelFrame(letter, powerDown != 0, gainCode, inputType, bias, srb2, srb1);

    CMegSerialPortzq* port = getChnlCom(static_cast<int>(channel));
    if (!port) return CStringA();
    board::sendCommand(*port, frame);

    if (!reply || m_connState == ConnState::Streaming) return CStringA();
    CAcqDriver02Prcs::addInfoStatus(port->getPortName());
    CStringA header;
    header.Format("\n send command:%s ->chnl:%d\n", frame.GetString(), static_cast<int>(channel));
    const CStringA text = board::readReply(*port, header);
    addInfo(text);
    return text;
}

CStringA CDriveOpnBciMutiBoard02Setup::turnOnOffChnl(unsigned int channel, int on, int report) {
    const CStringA blank(" ");
    if (channel > 399) return blank;
    if (channel >= 200 && m_pDevice && m_pDevice->m_linkType == LINK_TYPE_CYTON8) {
        AfxMessageBox(kMsg200Chnl);
        return blank;
    }
    CMegSerialPortzq* port = getChnlCom(static_cast<int>(channel));
    if (!port) {
        AfxMessageBox(L"Find or select port-device first!");
        return blank;
    }
    // getChnlCom has just set the channels per board from the layout.
    const unsigned int pin = channel % static_cast<unsigned int>(m_chnPerBoard > 0 ? m_chnPerBoard : 8);
    const unsigned char onOff[1] = {on == 1 ? board::onLetter(pin) : board::offLetter(pin)};

    int ok;
    if (on == 1) {
        const unsigned char stars[2] = {'*', '*'};
        port->writeCmdUca(stars, 2, kWriteWaitMs);
        ok = port->writeCmdUca(onOff, 1, kWriteWaitMs);
        port->writeCmdUca(stars, 2, kWriteWaitMs);
    } else {
        port->purgeAll();
        ok = port->writeCmdUca(onOff, 1, kWriteWaitMs);
    }
    if (!report) return CStringA();
    return CStringA(ok == 1 ? "OK" : "Er");
}

CStringA CDriveOpnBciMutiBoard02Setup::getAllChnlSetReport(int reply) {
    // The board lists every channel's settings: it takes a while.
    board::Query q = board::oneByteQuery('D', "Send query failed!", "\n QueryChannelDefaultSettings \n", 600);
    q.reportPortName = false;
    return runBoardQuery(*this, q, reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::testSignalCtrlCmd(int index, int reply) {
    // Indices 0..5 all lie on board 0, so this is the first board's port.
    CMegSerialPortzq* port = getChnlCom(index);
    if (!port || !port->isOpen()) return CStringA();
    port->purgeAll();
    if (index < 0 || index >= TEST_SIGNAL_ROWS) return CStringA();
    if (!port->writeCmdUc1(static_cast<unsigned char>(g_testSignalCmds[index]), kWriteWaitMs))
        return CStringA("Send query failed!");
    if (!reply || m_connState == ConnState::SensorStatus) return CStringA();
    const CStringA text = board::readReply(*port, "\n QueryDeviceSettings\n");
    addInfo(text);
    return text;
}

CStringA CDriveOpnBciMutiBoard02Setup::resetAllChnl2default(int reply) {
    CStringA result;
    for (CConfigComRadiozq* dongle : m_dongles) {
        if (!dongle || !dongle->m_pSerialPort || !dongle->m_pSerialPort->isOpen()) continue;
        CMegSerialPortzq* port = dongle->m_pSerialPort;
        if (!port->writeCmdUc1('d', kWriteWaitMs)) return CStringA("Send query failed!");
        if (reply) {
            CAcqDriver02Prcs::addInfoStatus(port->getPortName());
            const CStringA text = board::readReply(*port, "\n QueryDeviceSettings\n");
            addInfo(text);
            result += text;
        }
    }
    return result;
}

CStringA CDriveOpnBciMutiBoard02Setup::getDefault4AllChnl(int reply) {
    return runBoardQuery(*this, oneByte('D', "Send query failed!", kHeaderDefaults), reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::startSDcardRecord(std::uint8_t command, int reply) {
    return runBoardQuery(*this, oneByte(command, "Send query failed!", kHeaderDefaults), reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::stopSDcardRecord(int reply) {
    return runBoardQuery(*this, oneByte('j', "Send query failed!", kHeaderDefaults), reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::queryDeviceSettings(int reply) {
    return runBoardQuery(*this, oneByte('?', "Send query failed!", "\n QueryDeviceRegisterSettings \n"), reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::daisyModuleRemove(int reply) {
    return runBoardQuery(*this, oneByte('c', "Reset OpenBci board failed!", kHeaderDefaults), reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::daisyModuleAttach(int reply) {
    return runBoardQuery(*this, oneByte('C', "Reset OpenBci board failed!", kHeaderDefaults), reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::turnTimeStamp(int on, int reply) {
    board::Query q{{board::QueryWrite{{0xF0}, "Send new command failed!"},
                 on ? board::QueryWrite{{'<'}, "Turn-On time stamping failed!"}
                        : board::QueryWrite{{'>'}, "Turn-Off time stampingfailed!"}},
                kHeaderDefaults, board::kReplyWaitMs, true};
    return runBoardQuery(*this, q, reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::setBoardMode4AuxByte(std::uint8_t mode, int reply) {
    board::Query q{{board::QueryWrite{{'/'}, ""}, board::QueryWrite{{mode}, ""}}, kHeaderDefaults, board::kReplyWaitMs, true};
    return runBoardQuery(*this, q, reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::getBoardMode4AuxByte(int reply) {
    board::Query q{{board::QueryWrite{{'/', '/'}, "Send command to get Mode4AuxByte failed!"}}, kHeaderDefaults, board::kReplyWaitMs,
                true};
    return runBoardQuery(*this, q, reply);
}

CStringA CDriveOpnBciMutiBoard02Setup::getOpenBciFirmwareVersion(int reply) {
    return runBoardQuery(*this, oneByte('V', "Get firmware version failed!", kHeaderDefaults), reply);
}

int CDriveOpnBciMutiBoard02Setup::getSystemStatus() { return 0; }
