// Serial ports from udev: tty devices with a real parent device (USB adapters, ACM modems, UARTs of
// the board). Virtual terminals and pseudo-terminals have no parent; the legacy 8250 ports that the
// kernel always creates hang off the "serial8250" platform device whether or not a chip is there,
// so those are left out too. Nothing is opened.

#include "modbus/serial_port_list.h"

#include <cctype>
#include <cstring>
#include <libudev.h>
#include <string>

// udev's *_ENC properties escape unusual bytes as \xNN (spaces included).
static std::string DecodeUdevText(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '\\' && p[1] == 'x' && std::isxdigit(static_cast<unsigned char>(p[2])) &&
            std::isxdigit(static_cast<unsigned char>(p[3]))) {
            out.push_back(static_cast<char>(std::stoi(std::string(p + 2, 2), nullptr, 16)));
            p += 3;
        } else {
            out.push_back(*p);
        }
    }
    return out;
}

static std::string Trimmed(std::string text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

static std::string ModelOf(udev_device* device) {
    const char* names[] = {"ID_MODEL_FROM_DATABASE",  "ID_MODEL_ENC",  "ID_MODEL",
                           "ID_VENDOR_FROM_DATABASE", "ID_VENDOR_ENC", "ID_VENDOR"};
    for (const char* name : names) {
        const char* value = udev_device_get_property_value(device, name);
        if (value != nullptr && *value != '\0') {
            std::string text = std::strstr(name, "_ENC") != nullptr ? DecodeUdevText(value) : value;
            text = Trimmed(text);
            if (!text.empty()) {
                return text;
            }
        }
    }
    return "";
}

static bool IsLegacyPlaceholder(udev_device* parent) {
    const char* subsystem = udev_device_get_subsystem(parent);
    const char* name = udev_device_get_sysname(parent);
    const char* driver = udev_device_get_driver(parent);
    bool platform = subsystem != nullptr && std::strcmp(subsystem, "platform") == 0;
    bool serial8250 = (name != nullptr && std::strncmp(name, "serial8250", 10) == 0) ||
                      (driver != nullptr && std::strcmp(driver, "serial8250") == 0);
    return platform && serial8250;
}

void SerialPortList::AppendSystemPorts() {
    udev* context = udev_new();
    if (context == nullptr) {
        return;
    }
    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (enumerate != nullptr && udev_enumerate_add_match_subsystem(enumerate, "tty") >= 0 &&
        udev_enumerate_scan_devices(enumerate) >= 0) {
        // The enumeration is sorted by device path, which keeps the order stable between rebuilds.
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
            // Virtual terminals and pseudo-terminals never have hardware behind them; skipping them
            // by path spares reading each one's device record at every serial open.
            const char* syspath = udev_list_entry_get_name(entry);
            if (syspath == nullptr || std::strstr(syspath, "/devices/virtual/") != nullptr) {
                continue;
            }
            udev_device* device = udev_device_new_from_syspath(context, syspath);
            if (device == nullptr) {
                continue;
            }
            udev_device* parent = udev_device_get_parent(device); // owned by device
            const char* node = udev_device_get_devnode(device);
            const char* kernelName = udev_device_get_sysname(device);
            if (parent != nullptr && !IsLegacyPlaceholder(parent) && node != nullptr &&
                kernelName != nullptr) {
                std::string model = ModelOf(device);
                std::string name = model.empty() ? kernelName : model + " (" + kernelName + ")";
                // Connection paths are "/"-separated, so a display name must never hold one.
                for (char& c : name) {
                    if (c == '/') {
                        c = '-';
                    }
                }
                WideString displayName = WideString::FromUtf8(name.c_str());
                WideString devicePath = WideString::FromUtf8(node);
                if (displayName.Length() > 0 && devicePath.Length() > 0 && !HasDevicePath(devicePath)) {
                    Append(displayName, devicePath);
                }
            }
            udev_device_unref(device);
        }
    }
    if (enumerate != nullptr) {
        udev_enumerate_unref(enumerate);
    }
    udev_unref(context);
}
