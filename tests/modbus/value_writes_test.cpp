// Writing values as the simulator sees them: read-only sources send nothing, values of several
// registers go out as one Write Multiple Registers request (or single writes to a device without it),
// and a text fills exactly its source's registers.
#include "modbus/read_source_value.h"
#include "modbus/write_source_value.h"
#include "model/group.h"
#include "model/source.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mistvale {

namespace {

const char* kConfig = R"(<Simulator><Device slave="1">
  <Holding address="10" float="0.25"/><Holding address="30" text="Mistvale demo" registers="8"/>
  <Input address="0" value="5"/><DiscreteInput address="7" values="1"/></Device></Simulator>)";

class ValueWritesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.StartTcp(kConfig));
        group_.SetParameter(WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + sim_.PortText()).c_str()));
    }
    // Writes text into a source of the path; the requests the simulator got for it, as "function:count".
    std::vector<std::string> Write(const char* path, const std::string& text, bool* ok = nullptr) {
        source_.SetParameter(WideString::FromUtf8(path));
        const size_t before = sim_.ReadLog().size();
        const int result = WriteSourceValue(group_, source_, WideString::FromUtf8(text.c_str()));
        if (ok != nullptr)
            *ok = result == 1;
        std::vector<std::string> requests;
        const std::vector<SimLogEntry> log = sim_.ReadLog();
        for (size_t i = before; i < log.size(); ++i)
            requests.push_back(std::to_string(log[i].function) + ":" + std::to_string(log[i].count));
        return requests;
    }
    std::string ReadBack(const char* path) {
        Source reader;
        reader.SetParameter(WideString::FromUtf8(path));
        ReadSourceValue(group_, reader);
        return reader.Value().ToUtf8();
    }

    SimProcess sim_;
    Group group_;
    Source source_;
};

// A source of input registers, discrete inputs or functions 7 and 9 shows a value of another table:
// writing it must not reach the holding register or coil at the same address.
TEST_F(ValueWritesTest, ReadOnlySourcesSendNothing) {
    const struct {
        const char* path;
        const char* reason;
    } cases[] = {{"4#0", "Input registers are read-only"},
                 {"2#7", "Discrete inputs are read-only"},
                 {"7#0", "Exception status cannot be written"},
                 {"9#0", "Function 9 values cannot be written"}};
    for (const auto& c : cases) {
        bool ok = true;
        EXPECT_TRUE(Write(c.path, "99", &ok).empty()) << c.path;
        EXPECT_FALSE(ok) << c.path;
        EXPECT_EQ(source_.Value().ToUtf8(), "Can't set value.") << c.path;
        EXPECT_EQ(source_.Outcome().reason, c.reason) << c.path;
    }
    EXPECT_EQ(sim_.Command("get hr 0"), "0");
    EXPECT_EQ(sim_.Command("get co 7"), "0");
}

// (path, text, requests the simulator sees, what reads back)
TEST_F(ValueWritesTest, ValuesOfSeveralRegistersGoOutAsOneRequest) {
    const struct {
        const char* path;
        std::string text;
        std::vector<std::string> requests;
        const char* readBack;
    } cases[] = {
        {"10/float", "1.5", {"16:2"}, "1.500"},
        {"30/string8", "Hello", {"16:8"}, "Hello"}, // padded: the old characters are gone
        {"100", "7", {"6:1"}, "7"},
        {"300/string", std::string(260, 'x'), {"16:123", "16:7"}, nullptr},
    };
    for (const auto& c : cases) {
        bool ok = false;
        EXPECT_EQ(Write(c.path, c.text, &ok), c.requests) << c.path;
        EXPECT_TRUE(ok) << c.path << ": " << source_.Outcome().reason;
        EXPECT_EQ(c.readBack ? ReadBack(c.path) : std::string(), c.readBack ? c.readBack : "") << c.path;
    }
    // A text longer than its source's registers would overwrite the next source's: refused unsent.
    bool ok = true;
    EXPECT_TRUE(Write("30/string2", "Hello", &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_EQ(source_.Outcome().reason, "The text is longer than the source's 2 registers (4 characters)");
}

// A device without Write Multiple Registers gets the single writes, and the group remembers it.
TEST_F(ValueWritesTest, ADeviceWithoutFunctionSixteenGetsSingleWrites) {
    ASSERT_TRUE(sim_.Ok("exception 1 fn 16"));
    EXPECT_EQ(Write("10/float", "2.5"), (std::vector<std::string>{"16:2", "6:1", "6:1"}));
    EXPECT_EQ(Write("10/float", "-4"), (std::vector<std::string>{"6:1", "6:1"}));
    EXPECT_EQ(ReadBack("10/float"), "-4.000");
}

} // namespace

} // namespace mistvale
