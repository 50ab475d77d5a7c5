#include "modbus/register_map.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace mistvale {

namespace {

// Runs a descriptor table through the decoder the way the job does and returns the sources it makes.
std::vector<std::pair<std::string, std::string>> Decode(uint32_t tableStart, uint32_t dataStart,
                                                        const std::vector<uint16_t>& table) {
    RegisterMapDecoder decoder(tableStart, dataStart);
    std::vector<std::pair<std::string, std::string>> sources;
    for (size_t i = 0; i < table.size(); ++i) {
        std::string name, path;
        switch (decoder.Feed(tableStart + static_cast<uint32_t>(i), table[i], &name, &path)) {
        case RegisterMapDecoder::kNewSource:
            sources.emplace_back(name, path);
            break;
        case RegisterMapDecoder::kRewriteRun:
            EXPECT_FALSE(sources.empty());
            if (!sources.empty())
                sources.back().second = path;
            break;
        case RegisterMapDecoder::kNothing:
            break;
        }
    }
    return sources;
}

using Sources = std::vector<std::pair<std::string, std::string>>;

TEST(RegisterMapDecoder, FloatRunThenWord) {
    EXPECT_EQ(Decode(100, 2000, {0x0186, 0x0186, 0x0185}),
              (Sources{{"Channel 1 - Value", "2000/float"}, {"Channel 1 - Value", "2002"}}));
}

TEST(RegisterMapDecoder, TextRunsGrowAndSkipEmptyEntries) {
    EXPECT_EQ(Decode(10, 3000, {0x038B, 0x038B, 0x038B, 0x038B}),
              (Sources{{"Channel 3 - Name", "3000/string4"}}));
    EXPECT_EQ(Decode(10, 3000, {0x038B, 0x0000, 0x038B}), (Sources{{"Channel 3 - Name", "3000/string3"}}));
    EXPECT_EQ(Decode(10, 3000, {0x038B}), (Sources{{"Channel 3 - Name", "3000/string"}}));
    // A run of another channel starts a new source.
    EXPECT_EQ(Decode(10, 3000, {0x038B, 0x048B}),
              (Sources{{"Channel 3 - Name", "3000/string"}, {"Channel 4 - Name", "3001/string"}}));
}

TEST(RegisterMapDecoder, LanguageUnknownAndRepeatedWords) {
    EXPECT_EQ(Decode(0, 500, {0x0201}), (Sources{{"Language", "500/string"}}));
    EXPECT_EQ(Decode(0, 500, {0x0542}), (Sources{{"Channel 5 - Unknown Item 0x42", "500"}}));
    EXPECT_EQ(Decode(0, 500, {0x0181, 0x0181}),
              (Sources{{"Channel 1 - Scale Min", "500"}, {"Channel 1 - Scale Min", "501"}}));
    EXPECT_TRUE(Decode(0, 500, {}).empty());
    EXPECT_TRUE(Decode(0, 500, {0x0000, 0x0700}).empty());
}

TEST(RegisterMapDecoder, EveryNamedItem) {
    EXPECT_EQ(RegisterMapDecoder::ItemName(0x0083), "Channel 0 - Scale Max");
    EXPECT_EQ(RegisterMapDecoder::ItemName(0x0A87), "Channel 10 - Alarm Threshold");
    EXPECT_EQ(RegisterMapDecoder::ItemName(0xFF8A), "Channel 255 - Sensor Current");
    EXPECT_EQ(RegisterMapDecoder::ItemName(0x0182), "Channel 1 - Scale Min");
    EXPECT_EQ(RegisterMapDecoder::ItemName(0x01FF), "Channel 1 - Unknown Item 0xFF");
    // A table past the 16-bit range keeps counting data addresses.
    EXPECT_EQ(Decode(0xFFFF, 65535, {0x0185, 0x0185}),
              (Sources{{"Channel 1 - Value", "65535"}, {"Channel 1 - Value", "65536"}}));
}

} // namespace

} // namespace mistvale
