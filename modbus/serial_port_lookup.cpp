#include "modbus/serial_port_lookup.h"

#include "modbus/connection_path.h"
#include "modbus/serial_port_list.h"

namespace {

struct Lookup {
    const WideString* name;
    bool useLast;
    WideString path;
    bool found;
};

int VisitForLookup(const WideString& displayName, const WideString& devicePath, void* context) {
    Lookup* lookup = static_cast<Lookup*>(context);
    if (lookup->useLast) {
        // Every entry in turn: the last one wins.
        lookup->path = devicePath;
        lookup->found = true;
        return 1;
    }
    if (displayName.Compare(lookup->name->Text()) == 0) {
        lookup->path = devicePath;
        lookup->found = true;
        return 0;
    }
    return 1;
}

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
    Lookup lookup{&portName, portName.Compare(kUseLastDevice) == 0, WideString(), false};
    SerialPortList ports;
    ports.ForEachPort(VisitForLookup, &lookup);
    if (!lookup.found || lookup.path.IsEmpty())
        return 0;
    *devicePath = lookup.path.ToUtf8();
    return 1;
}

void ForEachSerialPortName(SerialPortNameVisitor visitor, void* context) {
    if (!visitor)
        return;
    NameWalk walk{visitor, context};
    SerialPortList ports;
    ports.ForEachPort(VisitName, &walk);
}
