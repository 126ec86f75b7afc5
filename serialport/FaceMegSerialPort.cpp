#include "host/MegSerialPort.h"
#include "serialport/Backend.h"
#include "serialport/ComAlias.h"

CFaceMegSerialPortzq::CFaceMegSerialPortzq() = default;
CFaceMegSerialPortzq::~CFaceMegSerialPortzq() = default;

std::vector<std::pair<int, CString>> CFaceMegSerialPortzq::getPortInfo() {
    std::vector<std::pair<int, CString>> out;
    for (const auto& d : mbeeg::serial::enumeratePorts())
        out.emplace_back(mbeeg::serial::aliasNumber(d.alias), CString(CStringA(d.alias)));
    return out;
}

std::vector<QSerialPortInfoPrivate> CFaceMegSerialPortzq::getComVidPidInfo() {
    std::vector<QSerialPortInfoPrivate> out;
    for (const auto& d : mbeeg::serial::enumeratePorts()) {
        QSerialPortInfoPrivate p;
        p.portName = CStringA(d.alias);
        p.device = CStringA(d.deviceId);
        p.manufacturer = CStringA(d.manufacturer);
        p.description = CStringA(d.description);
        p.systemLocation = CStringA(d.path);
        p.hasVendorIdentifier = d.vid != 0;
        p.hasProductIdentifier = d.pid != 0;
        p.vendorIdentifier = d.vid;
        p.productIdentifier = d.pid;
        p.serialNumber = CStringA(d.serial);
        out.push_back(std::move(p));
    }
    return out;
}

int CFaceMegSerialPortzq::closeAllPorts() { return 1; }
