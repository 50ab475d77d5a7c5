#include "modbus/modbus_crc.h"
#include "modbus/raw_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mistvale {

namespace {

// A Read Device Identification exchange (basic code) shaped like a real device's, with made-up texts.
const std::vector<uint8_t> kIdRequest = {0x01, 0x2B, 0x0E, 0x01, 0x00, 0x70, 0x77};

std::vector<uint8_t> RealIdentificationReply() {
    std::vector<uint8_t> r = {0x01, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, 0x03};
    auto object = [&](uint8_t id, const std::string& text) {
        r.push_back(id);
        r.push_back(static_cast<uint8_t>(text.size()));
        r.insert(r.end(), text.begin(), text.end());
    };
    object(0x00, "Brightfen Solar, Ltd.");
    object(0x01, "BSC-3210XT");
    object(0x02, "V01.55+V01.22");
    const uint16_t crc = ModbusCrc16(r.data(), r.size());
    r.push_back(static_cast<uint8_t>(crc & 0xFF));
    r.push_back(static_cast<uint8_t>(crc >> 8));
    return r;
}

void AppendCrc(std::vector<uint8_t>& frame) {
    uint16_t crc = ModbusCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

TEST(IdentificationReply, ParsesAReplyShapedLikeARealDevices) {
    std::vector<uint8_t> reply = RealIdentificationReply();
    ASSERT_EQ(CheckRtuReply(reply.data(), reply.size(), 1, kFunctionIdentification), 1);
    EXPECT_EQ(RtuIdentificationLength(reply.data(), reply.size()), reply.size());
    IdentificationBytes texts;
    texts.object[5] = "kept";
    ASSERT_EQ(ParseIdentificationReply(reply.data(), reply.size(), 1, 2, &texts), 1);
    EXPECT_EQ(texts.object[0], "Brightfen Solar, Ltd.");
    EXPECT_EQ(texts.object[1], "BSC-3210XT");
    EXPECT_EQ(texts.object[2], "V01.55+V01.22");
    EXPECT_EQ(texts.object[5], "kept"); // not in the reply
    EXPECT_EQ(texts.present, 0x7u);
}

TEST(IdentificationReply, StructureLengthNeedsEveryObjectHeader) {
    std::vector<uint8_t> reply = RealIdentificationReply();
    // The last object's length byte sits at 8 + (2 + 21) + (2 + 10) + 1.
    const size_t lastLengthByte = 44;
    for (size_t have = 0; have <= lastLengthByte; ++have)
        EXPECT_EQ(RtuIdentificationLength(reply.data(), have), 0u) << have;
    for (size_t have = lastLengthByte + 1; have <= reply.size(); ++have)
        EXPECT_EQ(RtuIdentificationLength(reply.data(), have), reply.size()) << have;
}

TEST(IdentificationReply, RejectsBadFramesAndLeavesTextsAlone) {
    std::vector<uint8_t> reply = RealIdentificationReply();
    EXPECT_EQ(CheckRtuReply(reply.data(), reply.size(), 2, kFunctionIdentification), 0); // wrong slave
    EXPECT_EQ(CheckRtuReply(reply.data(), reply.size(), 1, 0x03), 0);                    // wrong function
    std::vector<uint8_t> longer = reply;
    longer.push_back(0x55);
    EXPECT_EQ(CheckRtuReply(longer.data(), longer.size(), 1, kFunctionIdentification), 0);
    // A trailing zero byte keeps the CRC right (the CRC of a frame with its CRC is 0), but the
    // objects then do not fill the PDU.
    longer.back() = 0x00;
    IdentificationBytes unused;
    EXPECT_EQ(ParseIdentificationReply(longer.data(), longer.size(), 1, 2, &unused), 0);

    // An object whose length runs past the end of the PDU.
    std::vector<uint8_t> bad = {0x01, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x40, 'A', 'B'};
    AppendCrc(bad);
    IdentificationBytes texts;
    texts.object[0] = "before";
    EXPECT_EQ(ParseIdentificationReply(bad.data(), bad.size(), 1, 2, &texts), 0);
    EXPECT_EQ(texts.object[0], "before");

    // A lone object id without its length byte.
    std::vector<uint8_t> dangling = {0x01, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00};
    AppendCrc(dangling);
    EXPECT_EQ(ParseIdentificationReply(dangling.data(), dangling.size(), 1, 2, &texts), 0);

    // Not a Read Device Identification PDU.
    std::vector<uint8_t> other = {0x01, 0x2B, 0x0D, 0x01, 0x01, 0x00, 0x00, 0x00};
    AppendCrc(other);
    EXPECT_EQ(ParseIdentificationReply(other.data(), other.size(), 1, 2, &texts), 0);
    EXPECT_EQ(ParseIdentificationReply(other.data(), 4, 1, 2, &texts), 0);
}

TEST(IdentificationReply, SkipsObjectsBeyondSixAndReadsTcpFrames) {
    // MBAP header (transaction 0, protocol 0, length, unit 1), then the PDU.
    std::vector<uint8_t> pdu = {0x2B, 0x0E, 0x02, 0x02, 0x00, 0x00, 0x03, 0x05, 0x02, 'S',
                                'N',  0x80, 0x01, 'x',  0x06, 0x03, 'A',  'p',  'p'};
    std::vector<uint8_t> frame = {0x00, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(pdu.size() + 1), 0x01};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    EXPECT_EQ(TcpReplyLength(frame.data(), frame.size()), static_cast<int>(frame.size()));
    EXPECT_EQ(CheckTcpReply(frame.data(), frame.size(), 1, kFunctionIdentification), 1);
    EXPECT_EQ(CheckTcpReply(frame.data(), frame.size(), 2, kFunctionIdentification), 0);
    EXPECT_EQ(CheckTcpReply(frame.data(), frame.size() - 1, 1, kFunctionIdentification), 0);
    IdentificationBytes texts;
    ASSERT_EQ(ParseIdentificationReply(frame.data(), frame.size(), 7, 0, &texts), 1);
    EXPECT_EQ(texts.object[5], "SN");
    EXPECT_EQ(texts.object[6], "App");
    EXPECT_EQ(texts.present, (1u << 5) | (1u << 6));
}

TEST(RawReplyShapes, FixedRtuLengthsAndTcpHeaders) {
    const uint8_t nine[] = {0x05, 0x09};
    EXPECT_EQ(RtuReplyLength(nine, 1, kFunctionNine), 0);
    EXPECT_EQ(RtuReplyLength(nine, 2, kFunctionNine), 4);
    const uint8_t seven[] = {0x05, 0x07};
    EXPECT_EQ(RtuReplyLength(seven, 2, kFunctionExceptionStatus), 5);
    const uint8_t exception[] = {0x05, 0x89};
    EXPECT_EQ(RtuReplyLength(exception, 2, kFunctionNine), 5);
    const uint8_t ident[] = {0x05, 0x2B};
    EXPECT_EQ(RtuReplyLength(ident, 2, kFunctionIdentification), -1);

    const uint8_t badProtocol[] = {0, 0, 0, 1, 0, 2, 1};
    EXPECT_EQ(TcpReplyLength(badProtocol, 7), -1);
    const uint8_t tooLong[] = {0, 0, 0, 0, 0x01, 0x00, 1};
    EXPECT_EQ(TcpReplyLength(tooLong, 7), -1);
    const uint8_t tooShort[] = {0, 0, 0, 0, 0, 1, 1};
    EXPECT_EQ(TcpReplyLength(tooShort, 7), -1);
    EXPECT_EQ(TcpReplyLength(tooShort, 6), 0);
}

} // namespace

} // namespace mistvale
