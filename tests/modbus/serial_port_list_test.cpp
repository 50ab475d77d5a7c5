// The serial port list: the MISTVALE_SERIAL_PORTS rules. Nothing here opens a port.

#include "modbus/serial_port_list.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mistvale {

static std::vector<std::pair<std::string, std::string>> Entries(const SerialPortList& list) {
    std::vector<std::pair<std::string, std::string>> out;
    out.reserve(static_cast<size_t>(list.Count()));
    for (int i = 0; i < list.Count(); ++i)
        out.emplace_back(list.DisplayName(i).ToUtf8(), list.DevicePath(i).ToUtf8());
    return out;
}

TEST(SerialPortList, ListedPathsAreNamedByTheirLastComponent) {
    SerialPortList list;
    list.AppendListedPaths("/tmp/x/peer::/dev/ttyS9/:/:relative:/tmp/y/peer:/tmp/x/peer:/dev/pts/4");
    using E = std::pair<std::string, std::string>;
    EXPECT_EQ(Entries(list),
              (std::vector<E>{E{"peer", "/tmp/x/peer"}, E{"ttyS9", "/dev/ttyS9/"}, E{"relative", "relative"},
                              E{"peer", "/tmp/y/peer"}, E{"4", "/dev/pts/4"}}));
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.DisplayName(i).ToUtf8().find('/'), std::string::npos);
}

TEST(SerialPortList, PathsAlreadyListedAreNotAddedAgain) {
    SerialPortList list;
    list.Append(u"USB Serial (ttyUSB0)", u"/dev/ttyUSB0");
    list.AppendListedPaths("/dev/ttyUSB0:/dev/ttyUSB1");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.DisplayName(0).ToUtf8(), "USB Serial (ttyUSB0)");
    EXPECT_EQ(list.DisplayName(1).ToUtf8(), "ttyUSB1");
    // Nothing, empty text, only separators: nothing added.
    list.AppendListedPaths(nullptr);
    list.AppendListedPaths("");
    list.AppendListedPaths(":::");
    EXPECT_EQ(list.Count(), 2);
}

static int Collect(const WideString& name, const WideString& path, void* context) {
    auto* seen = static_cast<std::vector<std::pair<std::string, std::string>>*>(context);
    seen->emplace_back(name.ToUtf8(), path.ToUtf8());
    return seen->size() < 100 ? 1 : 0;
}

static int StopAtFirst(const WideString&, const WideString&, void* context) {
    ++*static_cast<int*>(context);
    return 0;
}

TEST(SerialPortList, RebuildPutsEnvironmentPortsLastAndCachesNothing) {
    const char* saved = std::getenv("MISTVALE_SERIAL_PORTS");
    std::string restore = saved != nullptr ? saved : "";

    unsetenv("MISTVALE_SERIAL_PORTS");
    SerialPortList list;
    std::vector<std::pair<std::string, std::string>> systemOnly;
    EXPECT_EQ(list.ForEachPort(Collect, &systemOnly), 1);
    for (const auto& entry : systemOnly) {
        EXPECT_EQ(entry.first.find('/'), std::string::npos) << entry.first;
        EXPECT_EQ(entry.second.rfind("/dev/", 0), 0u) << entry.second;
    }

    setenv("MISTVALE_SERIAL_PORTS", "/nonexistent/mistvale-a:/nonexistent/mistvale-b", 1);
    std::vector<std::pair<std::string, std::string>> withListed;
    list.ForEachPort(Collect, &withListed);
    ASSERT_EQ(withListed.size(), systemOnly.size() + 2);
    EXPECT_EQ(withListed[withListed.size() - 2],
              (std::pair<std::string, std::string>{"mistvale-a", "/nonexistent/mistvale-a"}));
    EXPECT_EQ(withListed.back(),
              (std::pair<std::string, std::string>{"mistvale-b", "/nonexistent/mistvale-b"}));
    // The order of the system ports is the same at every rebuild.
    EXPECT_TRUE(std::equal(systemOnly.begin(), systemOnly.end(), withListed.begin()));

    // A changed environment shows at the next rebuild.
    setenv("MISTVALE_SERIAL_PORTS", "/nonexistent/mistvale-c", 1);
    list.Rebuild();
    ASSERT_GE(list.Count(), 1);
    EXPECT_EQ(list.DisplayName(list.Count() - 1).ToUtf8(), "mistvale-c");
    EXPECT_EQ(list.Count(), static_cast<int>(systemOnly.size()) + 1);

    // The visitor stops the walk with 0.
    int calls = 0;
    EXPECT_EQ(list.ForEachPort(StopAtFirst, &calls), 1);
    EXPECT_EQ(calls, 1);

    if (saved != nullptr)
        setenv("MISTVALE_SERIAL_PORTS", restore.c_str(), 1);
    else
        unsetenv("MISTVALE_SERIAL_PORTS");
}

} // namespace mistvale
