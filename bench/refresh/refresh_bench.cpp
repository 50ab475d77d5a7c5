// One refresh pass over the sources of one group against the simulator, timed against a plain loop
// that does the same open / read / close sequence directly with libmodbus in the same run.
// Prints "name value unit" lines.
#include "modbus/read_source_value.h"
#include "modbus/serial_port_list.h"
#include "model/group.h"
#include "model/source.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <modbus/modbus.h>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<bool()>& pass) {
    auto start = Clock::now();
    if (!pass())
        return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void FillGroup(Group& group, const std::string& path, int sources) {
    group.SetParameter(WideString::FromUtf8(path.c_str()));
    for (int i = 0; i < sources; ++i) {
        Source* source = new Source();
        source->SetParameter(WideString::FromUtf8(std::to_string(i % 100).c_str()));
        source->SetGroup(&group);
        group.Sources().Append(source);
    }
}

bool RefreshPass(Group& group) {
    SharedLock lock(group.Sources());
    bool ok = true;
    for (ListItem* item = group.Sources().First(); item; item = item->Next()) {
        Source* source = static_cast<Source*>(item);
        ReadSourceValue(group, *source);
        ok = ok && source->Value().At(0) != u'C'; // "Can't get value."
    }
    return ok;
}

bool PlainPass(const std::function<modbus_t*()>& make, int slave, int sources) {
    for (int i = 0; i < sources; ++i) {
        modbus_t* ctx = make();
        if (!ctx)
            return false;
        uint16_t value = 0;
        bool ok = modbus_connect(ctx) == 0 && modbus_set_slave(ctx, slave) == 0 &&
                  modbus_read_registers(ctx, i % 100, 1, &value) == 1;
        modbus_close(ctx);
        modbus_free(ctx);
        if (!ok)
            return false;
    }
    return true;
}

// Alternates the two passes and keeps the best of each, so that a busy moment of the machine does not
// fall on one side only.
void Compare(const char* name, Group& group, const std::function<modbus_t*()>& make, int slave, int sources,
             int rounds) {
    double ours = 1e9, plain = 1e9;
    for (int r = 0; r < rounds; ++r) {
        double p = Seconds([&] { return PlainPass(make, slave, sources); });
        double o = Seconds([&] { return RefreshPass(group); });
        if (p < 0 || o < 0) {
            std::fprintf(stderr, "%s: a read failed\n", name);
            std::exit(1);
        }
        plain = std::min(plain, p);
        ours = std::min(ours, o);
    }
    std::printf("%s_passes_per_second %.2f 1/s\n", name, 1.0 / ours);
    std::printf("%s_plain_passes_per_second %.2f 1/s\n", name, 1.0 / plain);
    std::printf("%s_ratio %.2f x\n", name, ours / plain);
}

const char* kConfig = R"(<Simulator><Device slave="1"><Holding address="0" values="0 1 2 3 4 5 6 7 8 9"/>
  </Device><Device slave="2"><Holding address="0" values="0 1 2 3 4 5 6 7 8 9"/></Device></Simulator>)";

} // namespace

int main() {
    {
        SimProcess sim;
        sim.SetMaxSeconds(300);
        if (!sim.StartTcp(kConfig)) {
            std::fprintf(stderr, "simulator did not start\n");
            return 1;
        }
        Group group;
        FillGroup(group, "ModbusTcpIp/127.0.0.1/" + sim.PortText(), 1000);
        std::string port = sim.PortText();
        Compare(
            "refresh_tcp_1000", group, [&] { return modbus_new_tcp_pi("127.0.0.1", port.c_str()); }, 1, 1000,
            3);
    }
    {
        PtyPair line;
        SimProcess sim;
        sim.SetMaxSeconds(300);
        if (!line.Open() || !sim.StartRtu(line.DevicePath(), 115200, 'N', kConfig)) {
            std::fprintf(stderr, "serial simulator did not start\n");
            return 1;
        }
        setenv("MISTVALE_SERIAL_PORTS", line.PeerPath().c_str(), 1);
        Group group;
        FillGroup(group, "ModbusSerial/115200/N/peer/0x02", 100);
        std::string device = line.PeerPath();
        // Every serial open rebuilds the port list; this is what that costs on this machine.
        SerialPortList ports;
        const int rebuilds = 20;
        auto start = Clock::now();
        for (int i = 0; i < rebuilds; ++i)
            ports.Rebuild();
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / rebuilds;
        std::printf("serial_port_list_rebuild %.2f ms\n", ms);
        Compare(
            "refresh_rtu_100", group, [&] { return modbus_new_rtu(device.c_str(), 115200, 'N', 8, 1); }, 2,
            100, 3);
    }
    return 0;
}
