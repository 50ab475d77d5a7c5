#include "sim/request_handler.h"

#include <algorithm>

namespace mvsim {

static uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

static void PushWord(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void SummarizeRequest(const uint8_t* pdu, size_t length, RequestSummary& summary) {
    summary = RequestSummary{};
    if (length < 1)
        return;
    summary.function = pdu[0];
    switch (pdu[0]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 15:
    case 16:
        if (length >= 5) {
            summary.address = Word(pdu + 1);
            summary.count = Word(pdu + 3);
        }
        break;
    case 5:
    case 6:
        if (length >= 3) {
            summary.address = Word(pdu + 1);
            summary.count = 1;
        }
        break;
    case 0x2B:
        if (length >= 4) {
            summary.address = pdu[2];
            summary.count = pdu[3];
        }
        break;
    default:
        break;
    }
}

void BuildException(uint8_t function, uint8_t code, std::vector<uint8_t>& reply) {
    reply.clear();
    reply.push_back(static_cast<uint8_t>(function | 0x80));
    reply.push_back(code);
}

static uint8_t Fail(uint8_t function, uint8_t code, std::vector<uint8_t>& reply) {
    BuildException(function, code, reply);
    return code;
}

// Every address of [address, address + count) exists (no wrap past 0xFFFF) and, on a strict device,
// was defined by the configuration.
static bool RangeOk(const SimDevice& device, SimTable table, uint32_t address, uint32_t count) {
    if (address + count > 65536)
        return false;
    if (device.Strict()) {
        for (uint32_t a = address; a < address + count; ++a)
            if (!device.IsDefined(table, static_cast<uint16_t>(a)))
                return false;
    }
    return true;
}

static uint8_t ReadIdentification(SimDevice& device, const uint8_t* pdu, size_t length,
                                  std::vector<uint8_t>& reply) {
    const uint8_t function = pdu[0];
    if (length != 4)
        return Fail(function, 3, reply);
    if (pdu[1] != 0x0E)
        return Fail(function, 1, reply);
    uint8_t code = pdu[2];
    uint8_t objectId = pdu[3];
    if (code < 1 || code > 4)
        return Fail(function, 3, reply);
    bool anyRegular = false;
    for (int id = 3; id < 7; ++id)
        anyRegular = anyRegular || device.hasIdentification[id];
    // Basic objects 0 to 2 are mandatory, so they are always reported (empty when not configured);
    // regular objects 3 to 6 only when configured. There are no extended objects.
    auto present = [&](int id) { return id < 3 || device.hasIdentification[id]; };
    uint8_t conformity = device.conformityLevel != 0 ? device.conformityLevel : (anyRegular ? 0x82 : 0x81);

    std::vector<int> ids;
    if (code == 4) {
        if (objectId > 6 || !present(objectId))
            return Fail(function, 2, reply);
        ids.push_back(objectId);
    } else {
        int last = code == 1 ? 2 : 6;
        // A stream request for an object outside the category starts again at object 0.
        int first = objectId <= last && present(objectId) ? objectId : 0;
        for (int id = first; id <= last; ++id)
            if (present(id))
                ids.push_back(id);
    }

    reply.clear();
    reply.push_back(function);
    reply.push_back(0x0E);
    reply.push_back(code);
    reply.push_back(conformity);
    size_t moreFollowsAt = reply.size();
    reply.push_back(0); // more follows
    reply.push_back(0); // next object id
    reply.push_back(0); // number of objects
    const size_t maxPdu = 253;
    uint8_t objects = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        const std::string& text = device.identification[ids[i]];
        size_t textLength = std::min<size_t>(text.size(), 255);
        if (reply.size() + 2 + textLength > maxPdu) {
            if (objects == 0) {
                // One object longer than a frame: send what fits of it.
                textLength = maxPdu - reply.size() - 2;
            } else {
                // The rest follows in the next request, starting at this object.
                reply[moreFollowsAt] = 0xFF;
                reply[moreFollowsAt + 1] = static_cast<uint8_t>(ids[i]);
                break;
            }
        }
        reply.push_back(static_cast<uint8_t>(ids[i]));
        reply.push_back(static_cast<uint8_t>(textLength));
        reply.insert(reply.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(textLength));
        ++objects;
    }
    reply[moreFollowsAt + 2] = objects;
    return 0;
}

uint8_t HandleRequest(SimDevice& device, const uint8_t* pdu, size_t length, uint64_t elapsedMs,
                      std::vector<uint8_t>& reply) {
    reply.clear();
    if (length < 1)
        return Fail(0, 1, reply);
    const uint8_t function = pdu[0];
    switch (function) {
    case 1:
    case 2: {
        if (length != 5)
            return Fail(function, 3, reply);
        uint32_t address = Word(pdu + 1);
        uint32_t count = Word(pdu + 3);
        if (count < 1 || count > 2000)
            return Fail(function, 3, reply);
        SimTable table = function == 1 ? SimTable::Coils : SimTable::DiscreteInputs;
        if (!RangeOk(device, table, address, count))
            return Fail(function, 2, reply);
        reply.push_back(function);
        reply.push_back(static_cast<uint8_t>((count + 7) / 8));
        for (uint32_t i = 0; i < count; ++i) {
            if (i % 8 == 0)
                reply.push_back(0);
            if (device.Value(table, static_cast<uint16_t>(address + i), elapsedMs))
                reply.back() = static_cast<uint8_t>(reply.back() | (1u << (i % 8)));
        }
        return 0;
    }
    case 3:
    case 4: {
        if (length != 5)
            return Fail(function, 3, reply);
        uint32_t address = Word(pdu + 1);
        uint32_t count = Word(pdu + 3);
        if (count < 1 || count > 125)
            return Fail(function, 3, reply);
        SimTable table = function == 3 ? SimTable::Holding : SimTable::Input;
        if (!RangeOk(device, table, address, count))
            return Fail(function, 2, reply);
        reply.push_back(function);
        reply.push_back(static_cast<uint8_t>(count * 2));
        for (uint32_t i = 0; i < count; ++i)
            PushWord(reply, device.Value(table, static_cast<uint16_t>(address + i), elapsedMs));
        return 0;
    }
    case 5: {
        if (length != 5)
            return Fail(function, 3, reply);
        uint16_t address = Word(pdu + 1);
        uint16_t value = Word(pdu + 3);
        if (value != 0xFF00 && value != 0x0000)
            return Fail(function, 3, reply);
        if (!RangeOk(device, SimTable::Coils, address, 1))
            return Fail(function, 2, reply);
        device.Store(SimTable::Coils, address, value == 0xFF00);
        reply.assign(pdu, pdu + 5);
        return 0;
    }
    case 6: {
        if (length != 5)
            return Fail(function, 3, reply);
        uint16_t address = Word(pdu + 1);
        if (!RangeOk(device, SimTable::Holding, address, 1))
            return Fail(function, 2, reply);
        device.Store(SimTable::Holding, address, Word(pdu + 3));
        reply.assign(pdu, pdu + 5);
        return 0;
    }
    case 7:
        if (length != 1)
            return Fail(function, 3, reply);
        reply.push_back(function);
        reply.push_back(device.exceptionStatus);
        return 0;
    case 9:
        // Carries no data; the reply is the function code alone.
        if (length != 1)
            return Fail(function, 3, reply);
        reply.push_back(function);
        return 0;
    case 15: {
        if (length < 6)
            return Fail(function, 3, reply);
        uint32_t address = Word(pdu + 1);
        uint32_t count = Word(pdu + 3);
        uint8_t bytes = pdu[5];
        if (count < 1 || count > 1968 || bytes != (count + 7) / 8 || length != 6u + bytes)
            return Fail(function, 3, reply);
        if (!RangeOk(device, SimTable::Coils, address, count))
            return Fail(function, 2, reply);
        for (uint32_t i = 0; i < count; ++i) {
            device.Store(SimTable::Coils, static_cast<uint16_t>(address + i),
                         (pdu[6 + i / 8] >> (i % 8)) & 1);
        }
        reply.assign(pdu, pdu + 5);
        return 0;
    }
    case 16: {
        if (length < 6)
            return Fail(function, 3, reply);
        uint32_t address = Word(pdu + 1);
        uint32_t count = Word(pdu + 3);
        uint8_t bytes = pdu[5];
        if (count < 1 || count > 123 || bytes != count * 2 || length != 6u + bytes)
            return Fail(function, 3, reply);
        if (!RangeOk(device, SimTable::Holding, address, count))
            return Fail(function, 2, reply);
        for (uint32_t i = 0; i < count; ++i)
            device.Store(SimTable::Holding, static_cast<uint16_t>(address + i),
                         Word(pdu + 6 + 2 * static_cast<size_t>(i)));
        reply.assign(pdu, pdu + 5);
        return 0;
    }
    case 0x2B:
        if (length < 2)
            return Fail(function, 3, reply);
        return ReadIdentification(device, pdu, length, reply);
    default:
        return Fail(function, 1, reply);
    }
}

} // namespace mvsim
