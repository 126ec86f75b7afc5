#include "link/ConfigComRadio01SerialPort.h"

#include <exception>

#include "platform/msgbox.h"

CConfigComRadio01SerialPort::~CConfigComRadio01SerialPort() = default;

int CConfigComRadio01SerialPort::closeSerialPorts() {
    if (m_pSerialPort) {
        m_pSerialPort->closeCom(0);
        delete m_pSerialPort;
        m_pSerialPort = nullptr;
    }
    return 1;
}

int CConfigComRadio01SerialPort::cleanSerialPort() {
    if (!m_pSerialPort) return 0;
    m_pSerialPort->clearBuf();
    return 1;
}

int CConfigComRadio01SerialPort::connect_to_portName(CDialog* /*dlg*/) {
    if (m_portName.IsEmpty() || m_portName.Find(L"COM") < 0) {
        m_statusText = "No Serial Port.  Is the Dongle plugin?";
        return 0;
    }
    try {
        if (!m_pSerialPort) m_pSerialPort = new CMegSerialPortzq(m_portName, m_baudRate);
        if (!m_pSerialPort->isOpen()) {
            m_pSerialPort->openRW(m_portName, 1, 1);
            m_pSerialPort->setupCom4Eeg(m_baudRate);
        }
        const int open = m_pSerialPort->isOpen();
        m_statusText = open ? "connect_to_portName: Port is open!" : "connect_to_portName: Port is not opened!";
        return open;
    } catch (const std::exception&) {
        m_statusText = CStringA("Failed to connect using ") + CStringA(m_portName);
        m_statusText += "\n Make sure the board is powered up and the dongle is plugged in (oror unplug/plug dongle)";
        if (m_pSerialPort) {
            m_pSerialPort->closeCom(0);
            delete m_pSerialPort;
            m_pSerialPort = nullptr;
        }
        return 0;
    }
}

int CConfigComRadio01SerialPort::checkInitOpenSerialPort(int showMessage) {
    if (!m_pSerialPort) {
        // A port object is kept even when the first connect fails, so that a
        // later attempt can reuse it.
        if (!connect_to_portName(nullptr) && !m_pSerialPort) {
            try {
                m_pSerialPort = new CMegSerialPortzq(m_portName, m_baudRate);
            } catch (const std::exception&) {
                m_pSerialPort = nullptr;
            }
        }
    }
    if (!m_pSerialPort) return 0;
    if (m_pSerialPort->isOpen()) return 1;
    if (connect_to_portName(nullptr)) return 1;
    if (showMessage) AfxMessageBox(L"No serial port. Is the dongle inserted into a PC USB?", MB_OK);
    return 0;
}
