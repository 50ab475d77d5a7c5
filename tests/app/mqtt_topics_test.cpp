// Topic names and payloads: every name one topic level, equal topics told apart, payloads as JSON.
#include "mqtt/mqtt_topics.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

// (names, topic): every level stays one level, and equal topics are told apart in tree order.
TEST(MqttTopics, AwkwardNamesStayOneLevelEach) {
    const std::vector<std::pair<std::string, std::string>> names = {{"Boiler", "Temp"},  {"a/b+c#", "50%"},
                                                                    {"Line\n1", "x\ty"}, {"Boiler", "Temp"},
                                                                    {"", "Temp"},        {"Boiler", "Temp"}};
    const std::vector<std::string> expected = {"p/Boiler/Temp",    "p/a%2Fb%2Bc%23/50%25",
                                               "p/Line%0A1/x%09y", "p/Boiler/Temp~2",
                                               "p/_/Temp",         "p/Boiler/Temp~3"};
    EXPECT_EQ(SourceTopics("p", names), expected);
    EXPECT_EQ(ValuePayload("1.500", false, "", 0).substr(0, 34), R"({"value":"1.500","status":"ok","ti)");
    const std::string failed = R"({"value":null,"status":"failed","reason":"No reply \"x\"","time":")";
    EXPECT_EQ(ValuePayload("", true, "No reply \"x\"", 0).substr(0, failed.size()), failed);
}

} // namespace

} // namespace mistvale
