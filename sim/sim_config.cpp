#include "sim/sim_config.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>

namespace mvsim {

bool ParseSimNumber(const char* text, long long& value) {
    if (text == nullptr)
        return false;
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (*p == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long magnitude = std::strtoull(p, &end, base);
    if (errno != 0 || end == p || *p == '-' || *p == '+')
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != '\0' || magnitude > 0xFFFFFFFFull)
        return false;
    value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

static std::string Where(const pugi::xml_node& node) {
    std::ostringstream out;
    out << "<" << node.name() << "> at offset " << node.offset_debug();
    return out.str();
}

static bool NumberAttribute(const pugi::xml_node& node, const char* name, long long minimum,
                            long long maximum, long long& value, std::string& error) {
    pugi::xml_attribute attribute = node.attribute(name);
    if (!ParseSimNumber(attribute.value(), value) || value < minimum || value > maximum) {
        error = Where(node) + ": attribute \"" + name + "\" must be a number from " +
                std::to_string(minimum) + " to " + std::to_string(maximum);
        return false;
    }
    return true;
}

static bool OptionalNumber(const pugi::xml_node& node, const char* name, long long minimum, long long maximum,
                           long long fallback, long long& value, std::string& error) {
    if (!node.attribute(name)) {
        value = fallback;
        return true;
    }
    return NumberAttribute(node, name, minimum, maximum, value, error);
}

static bool SplitNumbers(const pugi::xml_node& node, const char* text, std::vector<long long>& numbers,
                         std::string& error) {
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        long long value = 0;
        if (!ParseSimNumber(word.c_str(), value) || value < -32768 || value > 65535) {
            error = Where(node) + ": \"" + word + "\" is not a 16-bit value";
            return false;
        }
        numbers.push_back(value);
    }
    return true;
}

// Stores consecutive values from `address`; the run may not go past 0xFFFF.
static bool DefineRun(SimDevice& device, SimTable table, const pugi::xml_node& node, long long address,
                      const std::vector<long long>& values, std::string& error) {
    if (address + static_cast<long long>(values.size()) > 65536) {
        error = Where(node) + ": the values run past address 0xFFFF";
        return false;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        device.Define(table, static_cast<uint16_t>(address + static_cast<long long>(i)),
                      static_cast<uint16_t>(values[i] & 0xFFFF));
    }
    return true;
}

static bool ParseDataElement(SimDevice& device, SimTable table, const pugi::xml_node& node,
                             std::string& error) {
    long long address = 0;
    if (!NumberAttribute(node, "address", 0, 65535, address, error))
        return false;
    bool registers = table == SimTable::Holding || table == SimTable::Input;
    std::vector<long long> values;
    if (node.attribute("value")) {
        if (!SplitNumbers(node, node.attribute("value").value(), values, error))
            return false;
        if (values.size() != 1) {
            error = Where(node) + ": \"value\" takes one number (use \"values\" for several)";
            return false;
        }
    } else if (node.attribute("values")) {
        if (!SplitNumbers(node, node.attribute("values").value(), values, error))
            return false;
    } else if (registers && node.attribute("text")) {
        // Two characters per register; Mistvale reads the low byte first unless order="high-first".
        std::string text = node.attribute("text").value();
        bool highFirst = std::strcmp(node.attribute("order").as_string("low-first"), "high-first") == 0;
        long long count = static_cast<long long>((text.size() + 1) / 2);
        if (!OptionalNumber(node, "registers", 1, 65536, count, count, error))
            return false;
        text.resize(static_cast<size_t>(count) * 2, '\0');
        for (long long i = 0; i < count; ++i) {
            auto first = static_cast<uint8_t>(text[static_cast<size_t>(2 * i)]);
            auto second = static_cast<uint8_t>(text[static_cast<size_t>(2 * i + 1)]);
            values.push_back(highFirst ? (first << 8) | second : (second << 8) | first);
        }
    } else if (registers && node.attribute("float")) {
        // IEEE 754 single over two registers, low word first unless order="high-first".
        float number = node.attribute("float").as_float();
        uint32_t bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        bool highFirst = std::strcmp(node.attribute("order").as_string("low-first"), "high-first") == 0;
        values.push_back(highFirst ? bits >> 16 : bits & 0xFFFF);
        values.push_back(highFirst ? bits & 0xFFFF : bits >> 16);
    } else if (node.attribute("wave")) {
        SimWave wave;
        std::string kind = node.attribute("wave").value();
        if (kind == "counter") {
            wave.kind = SimWave::kCounter;
        } else if (kind == "ramp") {
            wave.kind = SimWave::kRamp;
        } else if (kind == "sine") {
            wave.kind = SimWave::kSine;
        } else {
            error = Where(node) + ": \"wave\" must be counter, ramp or sine";
            return false;
        }
        long long number = 0;
        if (!OptionalNumber(node, "period", 1, 0xFFFFFFFF, 1000, number, error))
            return false;
        wave.periodMs = static_cast<uint32_t>(number);
        struct {
            const char* name;
            long long fallback;
            int32_t* field;
        } fields[] = {{"start", 0, &wave.start},   {"step", 1, &wave.step},
                      {"min", 0, &wave.minimum},   {"max", 100, &wave.maximum},
                      {"offset", 0, &wave.offset}, {"amplitude", 0, &wave.amplitude}};
        for (auto& field : fields) {
            if (!OptionalNumber(node, field.name, -2147483647LL, 2147483647LL, field.fallback, number, error))
                return false;
            *field.field = static_cast<int32_t>(number);
        }
        device.DefineWave(table, static_cast<uint16_t>(address), wave);
        return true;
    } else {
        error = Where(node) + ": needs one of value, values, " + (registers ? "text, float, " : "") + "wave";
        return false;
    }
    return DefineRun(device, table, node, address, values, error);
}

static bool ParseIdentification(SimDevice& device, const pugi::xml_node& node, std::string& error) {
    long long conformity = 0;
    if (!OptionalNumber(node, "conformity", 0, 255, 0, conformity, error))
        return false;
    device.conformityLevel = static_cast<uint8_t>(conformity);
    for (pugi::xml_node object : node.children()) {
        if (object.type() != pugi::node_element)
            continue;
        if (std::strcmp(object.name(), "Object") != 0) {
            error = Where(object) + ": only <Object> elements belong in <Identification>";
            return false;
        }
        long long id = 0;
        if (!NumberAttribute(object, "id", 0, 6, id, error))
            return false;
        std::string text = object.text().get();
        if (text.size() > 255) {
            error = Where(object) + ": an object holds at most 255 bytes";
            return false;
        }
        device.identification[id] = text;
        device.hasIdentification[id] = true;
    }
    return true;
}

static bool ParseSelfDescription(SimDevice& device, const pugi::xml_node& node, std::string& error) {
    long long table = 0;
    long long data = 0;
    long long signature = 0;
    if (!NumberAttribute(node, "table", 0, 65535, table, error) ||
        !NumberAttribute(node, "data", 0, 65535, data, error) ||
        !OptionalNumber(node, "signature", 0, 65535, 0x7601, signature, error))
        return false;
    std::vector<long long> descriptors;
    if (!SplitNumbers(node, node.text().get(), descriptors, error))
        return false;
    long long length = 0;
    if (!OptionalNumber(node, "length", 0, 65535, static_cast<long long>(descriptors.size()), length, error))
        return false;
    device.Define(SimTable::Holding, 0xFF10, static_cast<uint16_t>(signature));
    device.Define(SimTable::Holding, 0xFF11, static_cast<uint16_t>(table));
    device.Define(SimTable::Holding, 0xFF12, static_cast<uint16_t>(data));
    device.Define(SimTable::Holding, 0xFF13, static_cast<uint16_t>(length));
    return DefineRun(device, SimTable::Holding, node, table, descriptors, error);
}

static bool ParseDevice(const pugi::xml_node& node, std::vector<std::unique_ptr<SimDevice>>& devices,
                        std::string& error) {
    long long slave = 1;
    if (!OptionalNumber(node, "slave", 1, 247, 1, slave, error))
        return false;
    for (const auto& existing : devices) {
        if (existing->Slave() == slave) {
            error = Where(node) + ": slave " + std::to_string(slave) + " is configured twice";
            return false;
        }
    }
    auto device = std::make_unique<SimDevice>(static_cast<uint8_t>(slave));
    device->SetStrict(node.attribute("strict").as_bool(false));
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element)
            continue;
        std::string name = child.name();
        bool ok = true;
        if (name == "Holding") {
            ok = ParseDataElement(*device, SimTable::Holding, child, error);
        } else if (name == "Input") {
            ok = ParseDataElement(*device, SimTable::Input, child, error);
        } else if (name == "Coil") {
            ok = ParseDataElement(*device, SimTable::Coils, child, error);
        } else if (name == "DiscreteInput") {
            ok = ParseDataElement(*device, SimTable::DiscreteInputs, child, error);
        } else if (name == "ExceptionStatus") {
            long long status = 0;
            ok = NumberAttribute(child, "value", 0, 255, status, error);
            device->exceptionStatus = static_cast<uint8_t>(status);
        } else if (name == "Identification") {
            ok = ParseIdentification(*device, child, error);
        } else if (name == "SelfDescription") {
            ok = ParseSelfDescription(*device, child, error);
        } else {
            error = Where(child) + ": unknown element";
            ok = false;
        }
        if (!ok)
            return false;
    }
    devices.push_back(std::move(device));
    return true;
}

bool ParseSimConfig(const std::string& xml, std::vector<std::unique_ptr<SimDevice>>& devices,
                    std::string& error) {
    devices.clear();
    pugi::xml_document document;
    pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        error =
            std::string("XML error at offset ") + std::to_string(parsed.offset) + ": " + parsed.description();
        return false;
    }
    pugi::xml_node root = document.document_element();
    if (std::strcmp(root.name(), "Simulator") != 0) {
        error = "the root element must be <Simulator>";
        return false;
    }
    for (pugi::xml_node child : root.children()) {
        if (child.type() != pugi::node_element)
            continue;
        if (std::strcmp(child.name(), "Device") != 0) {
            error = Where(child) + ": only <Device> elements belong in <Simulator>";
            devices.clear();
            return false;
        }
        if (!ParseDevice(child, devices, error)) {
            devices.clear();
            return false;
        }
    }
    if (devices.empty()) {
        error = "the configuration has no <Device>";
        return false;
    }
    return true;
}

bool LoadSimConfig(const std::string& path, std::vector<std::unique_ptr<SimDevice>>& devices,
                   std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseSimConfig(text.str(), devices, error);
}

const char* DefaultSimConfig() {
    return R"(<Simulator>
  <Device slave="1">
    <Holding address="0" values="1234 -1 0x00FF 0 0 0 0 0 0 0"/>
    <Holding address="10" wave="counter" step="1" period="1000"/>
    <Holding address="11" wave="ramp" min="0" max="100" period="20000"/>
    <Holding address="12" wave="sine" offset="50" amplitude="40" period="30000"/>
    <Holding address="20" float="1.0"/>
    <Holding address="30" text="Mistvale demo" registers="8"/>
    <Input address="0" wave="sine" offset="0" amplitude="1000" period="10000"/>
    <Input address="1" values="100 200 300"/>
    <Coil address="0" values="1 0 1 1 0 0 1 0"/>
    <DiscreteInput address="0" values="0 1 0 1"/>
    <ExceptionStatus value="0x00"/>
    <Identification>
      <Object id="0">Vantorel</Object>
      <Object id="1">MV-SIM</Object>
      <Object id="2">1.0</Object>
      <Object id="5">SIM0001</Object>
    </Identification>
    <SelfDescription table="0x1000" data="2000">0x0186 0x0186 0x0185 0x028B 0x028B</SelfDescription>
    <Holding address="2000" float="21.5"/>
    <Holding address="2002" wave="ramp" min="0" max="500" period="15000"/>
    <Holding address="2003" text="Tank"/>
  </Device>
</Simulator>
)";
}

} // namespace mvsim
