#include "modbus/serial_port_lookup.h"

#include "modbus/connection_path.h"
#include "modbus/serial_port_list.h"

namespace mistvale {

namespace {

struct NameWalk {
    SerialPortNameVisitor visitor;
    void* context;
};

int VisitName(const WideString& displayName, const WideString&, void* context) {
    NameWalk* walk = static_cast<NameWalk*>(context);
    return walk->visitor(displayName, walk->context);
}

} // namespace

int LookUpSerialDevice(const WideString& portName, std::string* devicePath) {
    // Every serial open comes here, so only the one port asked for is looked up; the list falls back
    // to building itself in full whenever that alone cannot give the answer a walk would give.
    SerialPortList ports;
    WideString path;
    int found = portName.Compare(kUseLastDevice) == 0 ? ports.FindLastDevicePath(&path)
                                                      : ports.FindDevicePath(portName, &path);
    if (!found || path.IsEmpty())
        return 0;
    *devicePath = path.ToUtf8();
    return 1;
}

void ForEachSerialPortName(SerialPortNameVisitor visitor, void* context) {
    if (!visitor)
        return;
    NameWalk walk{visitor, context};
    SerialPortList ports;
    ports.ForEachPort(VisitName, &walk);
}

} // namespace mistvale
