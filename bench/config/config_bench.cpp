// Load and save of a configuration file with 1,000 groups of 10 sources each.
#include "model/config_file.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace mistvale;

int main() {
    std::string folder = (std::filesystem::temp_directory_path() / "mistvale-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr)
        return 1;
    std::string path = folder + "/Mistvale.xml";
    {
        LockedList groups;
        for (int g = 0; g < 1000; ++g) {
            Group* group = new Group();
            group->SetNameAndParameter(WideString::FromUtf8(("Device " + std::to_string(g)).c_str()),
                                       u"ModbusTcpIp/192.168.0.10/502");
            for (int s = 0; s < 10; ++s) {
                Source* source = new Source();
                source->SetNameAndParameter(WideString::FromUtf8(("Register " + std::to_string(s)).c_str()),
                                            u"4#100/float");
                source->SetGroup(group);
                group->Sources().Append(source);
            }
            groups.Append(group);
        }
        if (!SaveConfigFile(path, groups))
            return 1;
    }
    using Clock = std::chrono::steady_clock;
    LockedList groups;
    auto start = Clock::now();
    int loaded = LoadConfigFile(path, groups);
    auto loadedAt = Clock::now();
    int saved = SaveConfigFile(path, groups);
    auto savedAt = Clock::now();
    std::filesystem::remove_all(folder);
    if (loaded != kConfigLoaded || !saved || groups.Count() != 1000)
        return 1;
    std::printf("config_load_10000 %.2f ms\n",
                std::chrono::duration<double, std::milli>(loadedAt - start).count());
    std::printf("config_save_10000 %.2f ms\n",
                std::chrono::duration<double, std::milli>(savedAt - loadedAt).count());
    return 0;
}
