// Serial ports from udev: tty devices with a real parent device (USB adapters, ACM modems, UARTs of
// the board). Virtual terminals and pseudo-terminals have no parent; the legacy 8250 ports that the
// kernel always creates hang off the "serial8250" platform device whether or not a chip is there,
// so those are left out too. Nothing is opened.
//
// One port can also be probed alone: /sys/class/tty holds one entry per tty device, named by the
// kernel name with "!" for "/", which is exactly the set the enumeration walks. A display name
// carries that kernel name (bare, or in the final parentheses), so a name can only belong to the few
// entries that spell it, and a "/dev/..." path only to the device of that kernel name.

#include "modbus/serial_port_list.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <libudev.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace mistvale {

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

static std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
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
            if (!text.empty())
                return text;
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

// The entry the list makes of one udev tty device, if it makes one. Shared by the enumeration and
// the probe of a single device so that both name a port the same way.
static bool ListedPortOf(udev_device* device, WideString* displayName, WideString* devicePath) {
    const char* syspath = udev_device_get_syspath(device);
    if (syspath == nullptr || std::strstr(syspath, "/devices/virtual/") != nullptr)
        return false;
    udev_device* parent = udev_device_get_parent(device); // owned by device
    const char* node = udev_device_get_devnode(device);
    const char* kernelName = udev_device_get_sysname(device);
    if (parent == nullptr || IsLegacyPlaceholder(parent) || node == nullptr || kernelName == nullptr)
        return false;
    std::string model = ModelOf(device);
    std::string name = model.empty() ? kernelName : model + " (" + kernelName + ")";
    // Connection paths are "/"-separated, so a display name must never hold one.
    for (char& c : name)
        if (c == '/')
            c = '-';
    *displayName = WideString::FromUtf8(name.c_str());
    *devicePath = WideString::FromUtf8(node);
    return displayName->Length() > 0 && devicePath->Length() > 0;
}

void SerialPortList::AppendSystemPorts() {
    udev* context = udev_new();
    if (context == nullptr)
        return;
    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (enumerate != nullptr && udev_enumerate_add_match_subsystem(enumerate, "tty") >= 0 &&
        udev_enumerate_scan_devices(enumerate) >= 0) {
        // The enumeration is sorted by device path, which keeps the order stable between rebuilds.
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
            // Virtual terminals and pseudo-terminals never have hardware behind them; skipping them
            // by path spares reading each one's device record.
            const char* syspath = udev_list_entry_get_name(entry);
            if (syspath == nullptr || std::strstr(syspath, "/devices/virtual/") != nullptr)
                continue;
            udev_device* device = udev_device_new_from_syspath(context, syspath);
            if (device == nullptr)
                continue;
            WideString displayName;
            WideString devicePath;
            if (ListedPortOf(device, &displayName, &devicePath) && !HasDevicePath(devicePath))
                Append(displayName, devicePath);
            udev_device_unref(device);
        }
    }
    if (enumerate != nullptr)
        udev_enumerate_unref(enumerate);
    udev_unref(context);
}

namespace {

const char kTtyClass[] = "/sys/class/tty/";

enum class Presence { Absent, Virtual, Present, Unknown };

// Whether /sys/class/tty has an entry of this name, with one system call. A link into
// /sys/devices/virtual is a terminal the enumeration skips.
Presence ProbeEntry(const std::string& entry) {
    if (entry.empty() || entry == "." || entry == ".." || entry.find('/') != std::string::npos)
        return Presence::Absent;
    std::string path = kTtyClass + entry;
    char target[512];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG)
            return Presence::Absent;
        // Not a link (EINVAL) or unreadable: let udev look at it.
        return errno == EINVAL ? Presence::Present : Presence::Unknown;
    }
    target[length] = '\0';
    return std::strncmp(target, "../../devices/virtual/", 22) == 0 ? Presence::Virtual : Presence::Present;
}

// What the list shows of a kernel name: "/" (written "!" in sysfs) becomes "-".
std::string ShownKernelName(const std::string& entry) {
    std::string shown = entry;
    for (char& c : shown)
        if (c == '!')
            c = '-';
    return shown;
}

// One probe of a single tty device: creates the udev context on first use.
class DeviceProbe {
public:
    ~DeviceProbe() {
        if (context_ != nullptr)
            udev_unref(context_);
    }
    // 1 and the entry when the device makes a list entry, 0 when it makes none, -1 when udev failed.
    int Entry(const std::string& entry, WideString* displayName, WideString* devicePath) {
        if (context_ == nullptr && (context_ = udev_new()) == nullptr)
            return -1;
        std::string kernelName = entry;
        for (char& c : kernelName)
            if (c == '!')
                c = '/';
        udev_device* device = udev_device_new_from_subsystem_sysname(context_, "tty", kernelName.c_str());
        if (device == nullptr)
            return -1; // the entry exists, so this is udev failing, not the device missing
        int listed = ListedPortOf(device, displayName, devicePath) ? 1 : 0;
        udev_device_unref(device);
        return listed;
    }

private:
    udev* context_ = nullptr;
};

} // namespace

int SerialPortList::FindSystemPort(const WideString& displayName, WideString* devicePath) {
    std::string name = displayName.ToUtf8();
    // Display names are never empty and never hold "/".
    if (name.empty() || name.find('/') != std::string::npos)
        return 0;
    // The kernel name as shown: the whole name, or what stands in final parentheses after " (".
    std::vector<std::string> shownNames{name};
    if (name.back() == ')') {
        for (size_t open = name.find(" ("); open != std::string::npos; open = name.find(" (", open + 1))
            if (open + 2 < name.size() - 1)
                shownNames.push_back(name.substr(open + 2, name.size() - 1 - (open + 2)));
    }
    // The sysfs entries that are shown as one of those names. A "-" may stand for a "!" of the
    // entry, so names with "-" are matched against the directory itself.
    std::vector<std::string> entries;
    bool needListing = false;
    for (const std::string& shown : shownNames) {
        if (shown.find('!') != std::string::npos)
            continue; // "!" is always shown as "-"
        if (shown.find('-') != std::string::npos)
            needListing = true;
        else
            entries.push_back(shown);
    }
    if (needListing) {
        DIR* dir = opendir(kTtyClass);
        if (dir == nullptr) {
            if (errno != ENOENT)
                return -1;
        } else {
            while (dirent* item = readdir(dir)) {
                std::string entry = item->d_name;
                std::string shown = ShownKernelName(entry);
                if (shown.find('-') == std::string::npos)
                    continue; // already probed by its own name
                for (const std::string& candidate : shownNames) {
                    if (candidate == shown) {
                        entries.push_back(entry);
                        break;
                    }
                }
            }
            closedir(dir);
        }
    }

    DeviceProbe probe;
    int matches = 0;
    for (const std::string& entry : entries) {
        Presence presence = ProbeEntry(entry);
        if (presence == Presence::Unknown)
            return -1;
        if (presence != Presence::Present)
            continue;
        WideString shownName;
        WideString path;
        int listed = probe.Entry(entry, &shownName, &path);
        if (listed < 0)
            return -1;
        if (listed == 1 && shownName.Compare(displayName.Text()) == 0) {
            ++matches;
            *devicePath = path;
        }
    }
    // Two ports of one name: which comes first is the enumeration's order, so let it decide.
    return matches > 1 ? -1 : matches;
}

int SerialPortList::IsSystemDevicePath(const WideString& devicePath) {
    std::string path = devicePath.ToUtf8();
    // udev names every device node "/dev/" + the kernel's node name, and the kernel names tty nodes
    // after the device itself; so only the device of that kernel name can have this node.
    if (path.compare(0, 5, "/dev/") != 0)
        return 0;
    std::string entry = path.substr(5);
    for (char& c : entry)
        if (c == '/')
            c = '!';
    Presence presence = ProbeEntry(entry);
    if (presence == Presence::Unknown)
        return -1;
    if (presence != Presence::Present)
        return 0;
    DeviceProbe probe;
    WideString shownName;
    WideString node;
    int listed = probe.Entry(entry, &shownName, &node);
    if (listed < 0)
        return -1;
    return listed == 1 && node == devicePath ? 1 : 0;
}

} // namespace mistvale
