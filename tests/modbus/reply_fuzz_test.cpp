// Random and truncated bytes through the reply parsers: nothing may read outside the buffer (run
// under AddressSanitizer) and every accepted frame must be consistent with its own structure.
#include "modbus/modbus_crc.h"
#include "modbus/raw_reply.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace mistvale {

namespace {

// Copies into a heap block of exactly the frame's size, so that a read one past the end is caught.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& bytes) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), p.get());
    return p;
}

std::vector<uint8_t> RandomIdentificationFrame(std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> small(0, 12);
    std::vector<uint8_t> f = {1, 0x2B, 0x0E, 1, 1, 0, 0};
    int objects = small(rng);
    f.push_back(static_cast<uint8_t>(rng() % 2 ? objects : byte(rng)));
    for (int i = 0; i < objects; ++i) {
        f.push_back(static_cast<uint8_t>(small(rng)));
        int len = rng() % 4 == 0 ? byte(rng) : small(rng); // sometimes a length that runs past the end
        f.push_back(static_cast<uint8_t>(len));
        int actual = rng() % 3 == 0 ? small(rng) : len;
        for (int k = 0; k < actual && f.size() < 250; ++k)
            f.push_back(static_cast<uint8_t>(byte(rng)));
    }
    uint16_t crc = ModbusCrc16(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

TEST(ReplyFuzz, IdentificationParserStaysInsideTheFrame) {
    std::mt19937 rng(12345);
    int accepted = 0;
    for (int iteration = 0; iteration < 20000; ++iteration) {
        std::vector<uint8_t> frame = RandomIdentificationFrame(rng);
        size_t cut = iteration % 5 == 0 ? rng() % (frame.size() + 1) : frame.size();
        frame.resize(cut);
        auto exact = Exact(frame);
        IdentificationBytes texts;
        CheckRtuReply(exact.get(), frame.size(), 1, kFunctionIdentification);
        size_t structural = RtuIdentificationLength(exact.get(), frame.size());
        EXPECT_LE(structural, kRtuMaxFrame);
        if (ParseIdentificationReply(exact.get(), frame.size(), 1, 2, &texts)) {
            ++accepted;
            size_t total = 0;
            for (const std::string& text : texts.object)
                total += text.size();
            // Every accepted text came out of the frame.
            EXPECT_LE(total, frame.size());
        }
        TcpReplyLength(exact.get(), frame.size());
        CheckTcpReply(exact.get(), frame.size(), 1, kFunctionIdentification);
        ParseIdentificationReply(exact.get(), frame.size(), 7, 0, &texts);
    }
    // The generator makes well-formed frames often enough for the accepting path to be exercised.
    EXPECT_GT(accepted, 1000);
}

TEST(ReplyFuzz, PureGarbageIsRejectedWithoutOverrun) {
    std::mt19937 rng(777);
    for (int iteration = 0; iteration < 20000; ++iteration) {
        std::vector<uint8_t> frame(rng() % 300);
        for (auto& b : frame)
            b = static_cast<uint8_t>(rng());
        auto exact = Exact(frame);
        IdentificationBytes texts;
        int rtu =
            CheckRtuReply(exact.get(), frame.size(), frame.empty() ? 0 : frame[0], kFunctionIdentification);
        if (rtu) {
            EXPECT_TRUE(ModbusCrcMatches(exact.get(), frame.size()));
            EXPECT_LE(frame.size(), kRtuMaxFrame);
        }
        for (uint8_t function : {kFunctionNine, kFunctionExceptionStatus, kFunctionIdentification}) {
            for (size_t have = 0; have <= frame.size() && have < 8; ++have) {
                int len = RtuReplyLength(exact.get(), have, function);
                // A frame's own function gives its length: never past a byte count's reach.
                EXPECT_TRUE(len >= -1 && len <= 3 + 255 + 2);
            }
        }
        int tcp = TcpReplyLength(exact.get(), frame.size());
        EXPECT_LE(tcp, static_cast<int>(kTcpMaxFrame));
        ParseIdentificationReply(exact.get(), frame.size(), 1, 2, &texts);
        ParseIdentificationReply(exact.get(), frame.size(), 7, 0, &texts);
        ParseIdentificationReply(exact.get(), frame.size(), 300, 0, &texts);
    }
}

} // namespace

} // namespace mistvale
