#include "model/config_file.h"
#include "model/file_replace.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "model_test_support.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mistvale {

namespace {

const char kCanonical[] = "<Mistvale><Groups>"
                          "<Group Name=\"Boiler\" Parameter=\"ModbusSerial/9600/E/COM1/0x01\">"
                          "<Sources><Source Name=\"Flow\" Parameter=\"100/float\"/></Sources></Group>"
                          "</Groups></Mistvale>";

struct Snapshot {
    std::string groupName, groupParameter;
    std::vector<std::pair<std::string, std::string>> sources;
    bool operator==(const Snapshot&) const = default;
};

std::vector<Snapshot> Describe(LockedList& groups) {
    std::vector<Snapshot> result;
    SharedLock lock(groups);
    for (ListItem* item = groups.First(); item != nullptr; item = item->Next()) {
        Group* group = static_cast<Group*>(item);
        Snapshot snapshot{group->Name().ToUtf8(), group->Parameter().ToUtf8(), {}};
        SharedLock sourcesLock(group->Sources());
        for (ListItem* s = group->Sources().First(); s != nullptr; s = s->Next()) {
            Source* source = static_cast<Source*>(s);
            EXPECT_EQ(source->GetGroup(), group);
            snapshot.sources.emplace_back(source->Name().ToUtf8(), source->Parameter().ToUtf8());
        }
        result.push_back(snapshot);
    }
    return result;
}

std::string SaveToText(LockedList& groups, const TempFolder& folder) {
    std::string path = folder.File("saved.xml");
    EXPECT_EQ(SaveConfigFile(path, groups), 1);
    return ReadWholeFile(path);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ConfigFile, CanonicalFileRoundTrips) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path, kCanonical);
    LockedList groups;
    ASSERT_EQ(LoadConfigFile(path, groups), kConfigLoaded);
    std::vector<Snapshot> expected{{"Boiler", "ModbusSerial/9600/E/COM1/0x01", {{"Flow", "100/float"}}}};
    EXPECT_EQ(Describe(groups), expected);
    EXPECT_EQ(SaveToText(groups, folder), kCanonical);
}

TEST(ConfigFile, NamesMatchInAnyCaseAndAreWrittenBackCanonically) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path,
                   "<mistvale><GROUPS><group name=\"Boiler\" parameter=\"ModbusSerial/9600/E/COM1/0x01\">"
                   "<sources><SOURCE NAME=\"Flow\" PARAMETER=\"100/float\"/></sources></group>"
                   "</GROUPS></mistvale>");
    LockedList groups;
    ASSERT_EQ(LoadConfigFile(path, groups), kConfigLoaded);
    EXPECT_EQ(SaveToText(groups, folder), kCanonical);
}

TEST(ConfigFile, ChildElementsStandInForAttributes) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path,
                   "<Mistvale><Groups><Group><Name>Boiler</Name>"
                   "<Parameter>ModbusSerial/9600/E/COM1/0x01</Parameter>"
                   "<Sources><Source><name>Flow</name><Parameter>100/float</Parameter></Source></Sources>"
                   "</Group></Groups></Mistvale>");
    LockedList groups;
    ASSERT_EQ(LoadConfigFile(path, groups), kConfigLoaded);
    EXPECT_EQ(SaveToText(groups, folder), kCanonical);
}

TEST(ConfigFile, AttributeWinsOverAChildOfTheSameName) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path,
                   "<Mistvale><Groups><Group Name=\"Attr\"><Name>Child</Name></Group></Groups></Mistvale>");
    LockedList groups;
    ASSERT_EQ(LoadConfigFile(path, groups), kConfigLoaded);
    ASSERT_EQ(Describe(groups).size(), 1u);
    EXPECT_EQ(Describe(groups)[0].groupName, "Attr");
}

TEST(ConfigFile, GroupWithoutSourcesOrAttributes) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    // A group without "Sources", one without any attribute (empty texts, not the initial values),
    // and noise that is ignored: comments, text, other elements, a second "Groups".
    WriteWholeFile(path,
                   "<Mistvale><!-- note --><Groups>text<Group Name=\"Clock group\" Parameter=\"Clock\"/>"
                   "<Other Name=\"x\"/><Group><Sources><Source/><Thing/></Sources></Group></Groups>"
                   "<Groups><Group Name=\"second list\"/></Groups></Mistvale>");
    LockedList groups;
    ASSERT_EQ(LoadConfigFile(path, groups), kConfigLoaded);
    std::vector<Snapshot> expected{{"Clock group", "Clock", {}}, {"", "", {{"", ""}}}};
    EXPECT_EQ(Describe(groups), expected);
    EXPECT_EQ(SaveToText(groups, folder),
              "<Mistvale><Groups><Group Name=\"Clock group\" Parameter=\"Clock\"><Sources/></Group>"
              "<Group Name=\"\" Parameter=\"\"><Sources><Source Name=\"\" Parameter=\"\"/></Sources></Group>"
              "</Groups></Mistvale>");
}

TEST(ConfigFile, EmptyModelWritesRootAndGroupsOnly) {
    TempFolder folder;
    LockedList groups;
    EXPECT_EQ(SaveToText(groups, folder), "<Mistvale><Groups/></Mistvale>");
}

TEST(ConfigFile, TextsSurviveTheRoundTripAsTyped) {
    TempFolder folder;
    LockedList groups;
    Group* group = new Group();
    group->SetNameAndParameter(WideString::FromUtf8("Kessel <&> \"'\" 100% %1 Ä€😀"), u"ModbusTcpIp/plc1/502");
    Source* source = new Source();
    source->SetNameAndParameter(u" spaced ", u"100/string4");
    source->SetGroup(group);
    group->Sources().Append(source);
    groups.Append(group);
    std::string path = folder.File("Mistvale.xml");
    ASSERT_EQ(SaveConfigFile(path, groups), 1);
    LockedList loaded;
    ASSERT_EQ(LoadConfigFile(path, loaded), kConfigLoaded);
    EXPECT_EQ(Describe(loaded), Describe(groups));
}

TEST(ConfigFile, ResavingWithoutChangesIsByteIdentical) {
    TempFolder folder;
    LockedList groups;
    for (int g = 0; g < 5; ++g) {
        Group* group = new Group();
        WideString name;
        name.Format(u"Group %d", g);
        group->SetName(name);
        for (int s = 0; s < g; ++s) {
            Source* source = new Source();
            WideString parameter;
            parameter.Format(s % 2 ? u"%d/float:dcba" : u"%d/FLOAT", s);
            source->SetParameter(parameter);
            source->SetGroup(group);
            group->Sources().Append(source);
        }
        groups.Append(group);
    }
    std::string firstPath = folder.File("first.xml");
    std::string secondPath = folder.File("second.xml");
    ASSERT_EQ(SaveConfigFile(firstPath, groups), 1);
    LockedList reloaded;
    ASSERT_EQ(LoadConfigFile(firstPath, reloaded), kConfigLoaded);
    ASSERT_EQ(SaveConfigFile(secondPath, reloaded), 1);
    EXPECT_EQ(ReadWholeFile(firstPath), ReadWholeFile(secondPath));
    EXPECT_EQ(ReadWholeFile(firstPath).find('\n'), std::string::npos); // no indentation, no line breaks
    EXPECT_EQ(ReadWholeFile(firstPath).rfind("<Mistvale>", 0), 0u);    // no XML declaration
}

TEST(ConfigFile, TenThousandSourcesLoadAndSave) {
    TempFolder folder;
    std::string text = "<Mistvale><Groups>";
    for (int g = 0; g < 1000; ++g) {
        text += "<Group Name=\"Device " + std::to_string(g) + "\" Parameter=\"ModbusTcpIp/10.0.0." +
                std::to_string(g % 250) + "/502\"><Sources>";
        for (int s = 0; s < 10; ++s) {
            text += "<Source Name=\"Register " + std::to_string(s) + "\" Parameter=\"" +
                    std::to_string(100 + s) + "/hex\"/>";
        }
        text += "</Sources></Group>";
    }
    text += "</Groups></Mistvale>";
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path, text);
    LockedList groups;
    ASSERT_EQ(LoadConfigFile(path, groups), kConfigLoaded);
    std::vector<Snapshot> loaded = Describe(groups);
    ASSERT_EQ(loaded.size(), 1000u);
    size_t sources = 0;
    for (const Snapshot& group : loaded)
        sources += group.sources.size();
    EXPECT_EQ(sources, 10000u);
    EXPECT_EQ(loaded[999].groupName, "Device 999");
    EXPECT_EQ(loaded[999].sources[9].second, "109/hex");
    ASSERT_EQ(SaveConfigFile(path, groups), 1);
    EXPECT_EQ(ReadWholeFile(path), text);
}

TEST(ConfigFile, LoadTellsMissingFromUnreadable) {
    TempFolder folder;
    LockedList groups;
    EXPECT_EQ(LoadConfigFile(folder.File("none.xml"), groups), kConfigMissing);
    WriteWholeFile(folder.File("broken.xml"), "<Mistvale><Groups><Group Name=\"cut");
    EXPECT_EQ(LoadConfigFile(folder.File("broken.xml"), groups), kConfigUnreadable);
    WriteWholeFile(folder.File("empty.xml"), "");
    EXPECT_EQ(LoadConfigFile(folder.File("empty.xml"), groups), kConfigUnreadable);
    WriteWholeFile(folder.File("other.xml"), "<Settings><Groups><Group Name=\"x\"/></Groups></Settings>");
    EXPECT_EQ(LoadConfigFile(folder.File("other.xml"), groups), kConfigUnreadable);
    EXPECT_EQ(groups.Count(), 0u);
    WriteWholeFile(folder.File("bare.xml"), "<Mistvale/>");
    EXPECT_EQ(LoadConfigFile(folder.File("bare.xml"), groups), kConfigLoaded);
    EXPECT_EQ(groups.Count(), 0u);
}

// A save that cannot complete (here: the file size limit stops the write half-way, as a full disk
// would) leaves the old file untouched and no temporary file behind.
TEST(ConfigFile, FailedSaveLeavesTheOldFile) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path, kCanonical);
    LockedList groups;
    for (int i = 0; i < 200; ++i)
        groups.Append(new Group());
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 512;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    int result = SaveConfigFile(path, groups);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadWholeFile(path), kCanonical);
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"Mistvale.xml"});
}

// Runs check as an unprivileged user (root ignores folder permissions); true when it passed.
bool RunUnprivileged(const std::string& folder, bool (*check)(const std::string&)) {
    if (::geteuid() != 0)
        return check(folder);
    const uid_t nobody = 65534;
    if (::chown(folder.c_str(), nobody, nobody) != 0)
        return false;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (::chown(entry.path().c_str(), nobody, nobody) != 0)
            return false;
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(2);
        ::_exit(check(folder) ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SaveIntoReadOnlyFolderFails(const std::string& folder) {
    std::string path = folder + "/Mistvale.xml";
    if (::chmod(folder.c_str(), 0500) != 0)
        return false;
    LockedList groups;
    groups.Append(new Group());
    bool failed = SaveConfigFile(path, groups) == 0;
    ::chmod(folder.c_str(), 0700);
    return failed && ReadWholeFile(path) == kCanonical && FolderEntries(folder).size() == 1;
}

TEST(ConfigFile, SaveIntoReadOnlyFolderFailsAndKeepsTheOldFile) {
    TempFolder folder;
    WriteWholeFile(folder.File("Mistvale.xml"), kCanonical);
    EXPECT_TRUE(RunUnprivileged(folder.Path(), &SaveIntoReadOnlyFolderFails));
    EXPECT_EQ(ReadWholeFile(folder.File("Mistvale.xml")), kCanonical);
}

TEST(ConfigFile, SaveFollowsALinkAndCreatesMissingFolders) {
    TempFolder folder;
    std::string target = folder.File("real.xml");
    WriteWholeFile(target, kCanonical);
    std::string link = folder.File("Mistvale.xml");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ::chmod(target.c_str(), 0640);
    LockedList groups;
    ASSERT_EQ(SaveConfigFile(link, groups), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(target), "<Mistvale><Groups/></Mistvale>");
    struct stat info;
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u); // the replaced file keeps its permissions

    std::string deep = folder.File("a/b/Mistvale.xml");
    ASSERT_EQ(SaveConfigFile(deep, groups), 1);
    EXPECT_EQ(ReadWholeFile(deep), "<Mistvale><Groups/></Mistvale>");
}

TEST(ConfigFile, SaveOverAFolderFails) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    ASSERT_TRUE(std::filesystem::create_directory(path));
    LockedList groups;
    EXPECT_EQ(SaveConfigFile(path, groups), 0);
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"Mistvale.xml"});
}

TEST(ConfigFile, UnreadableFilesAreKeptWithoutOverwritingOlderCopies) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    std::string kept;
    EXPECT_EQ(KeepUnreadableConfig(path, &kept), 0); // nothing to keep
    WriteWholeFile(path, "first broken");
    ASSERT_EQ(KeepUnreadableConfig(path, &kept), 1);
    EXPECT_EQ(kept, path + ".bad");
    WriteWholeFile(folder.File("Mistvale.xml.bad.1"), "someone else's");
    WriteWholeFile(path + ".new", "second broken");
    std::filesystem::rename(path + ".new", path);
    ASSERT_EQ(KeepUnreadableConfig(path, &kept), 1);
    EXPECT_EQ(kept, path + ".bad.2");
    EXPECT_EQ(ReadWholeFile(path + ".bad"), "first broken");
    EXPECT_EQ(ReadWholeFile(path + ".bad.1"), "someone else's");
    EXPECT_EQ(ReadWholeFile(path + ".bad.2"), "second broken");
    EXPECT_EQ(ReadWholeFile(path), "second broken"); // the file itself stays
}

// At shutdown an unreadable file is kept beside before the tree of this run replaces it.
TEST(ConfigFile, ShutdownKeepsAnUnreadableFileBesideBeforeSaving) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path, "<Mistvale><Groups><Group Name=\"lost?\"");
    for (int run = 0; run < 2; ++run) {
        MonitorTree tree;
        ASSERT_EQ(tree.Start(path), 1);
        EXPECT_EQ(tree.Groups().Count(), 0u);
        tree.AddGroup(new Group());
        tree.Stop();
        WriteWholeFile(path + ".next", "garbage " + std::to_string(run));
        if (run == 0) {
            EXPECT_EQ(ReadWholeFile(path + ".bad"), "<Mistvale><Groups><Group Name=\"lost?\"");
            EXPECT_EQ(
                ReadWholeFile(path),
                "<Mistvale><Groups><Group Name=\"Group\" Parameter=\"Clock\"><Sources/></Group></Groups>"
                "</Mistvale>");
            std::filesystem::rename(path + ".next", path);
        }
    }
    EXPECT_EQ(ReadWholeFile(path + ".bad.1"), "garbage 0");
    EXPECT_EQ(ReadWholeFile(path + ".bad"), "<Mistvale><Groups><Group Name=\"lost?\"");
}

// One run of the program over a tree file: start, add a group, stop.
void RunOnce(const std::string& path) {
    MonitorTree tree;
    ASSERT_EQ(tree.Start(path), 1);
    Group* group = new Group();
    group->SetName(u"Added");
    tree.AddGroup(group);
    tree.Stop();
}

// Dotfile repositories keep the tree as a link: no run may lose what the link leads to, the link
// stays a link, and what is kept beside holds the target's bytes.
TEST(ConfigFile, LinkedTreesKeepTheirBytesAndTheirLink) {
    TempFolder folder;
    std::filesystem::create_directory(folder.File("dotfiles"));
    std::string link = folder.File("Mistvale.xml");
    std::string target = folder.File("dotfiles/tree.xml");
    ASSERT_EQ(::symlink("dotfiles/tree.xml", link.c_str()), 0); // relative, as such links usually are

    // Parseable: loaded, and the save replaces the target in its own folder.
    WriteWholeFile(target, kCanonical);
    RunOnce(link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_NE(ReadWholeFile(target).find("Name=\"Boiler\""), std::string::npos);
    EXPECT_NE(ReadWholeFile(target).find("Name=\"Added\""), std::string::npos);
    EXPECT_EQ(FolderEntries(folder.File("dotfiles")), std::vector<std::string>{"tree.xml"});

    // Unparseable: the bytes are kept beside the link before the target is replaced.
    WriteWholeFile(target, "<Mistvale><Groups><Group Name=\"half");
    RunOnce(link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_FALSE(std::filesystem::is_symlink(link + ".bad"));
    EXPECT_EQ(ReadWholeFile(link + ".bad"), "<Mistvale><Groups><Group Name=\"half");
    EXPECT_NE(ReadWholeFile(target).find("Name=\"Added\""), std::string::npos);

    // Dangling: the target is created, the link stays.
    std::string dangling = folder.File("Other.xml");
    ASSERT_EQ(::symlink("dotfiles/new/other.xml", dangling.c_str()), 0);
    RunOnce(dangling);
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_NE(ReadWholeFile(folder.File("dotfiles/new/other.xml")).find("Name=\"Added\""), std::string::npos);
    EXPECT_FALSE(PathExists(dangling + ".bad"));
}

// A tree file the user made read-only is not replaced: this run's changes are lost, the file stays.
TEST(ConfigFile, ReadOnlyTreeFileIsLeftAsItWas) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path, kCanonical);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    RunOnce(path);
    EXPECT_EQ(ReadWholeFile(path), kCanonical);
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"Mistvale.xml"});
    LockedList groups;
    errno = 0;
    EXPECT_EQ(SaveConfigFile(path, groups), 0);
    EXPECT_EQ(errno, EACCES);
}

// A save killed part-way leaves its temporary file; the next start removes it, and only it.
TEST(ConfigFile, StartRemovesLeftoverTemporariesOfKilledSaves) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path, kCanonical);
    const std::vector<std::string> leftovers = {"Mistvale.xml.tmp.ab12cd34", "Mistvale.xml.tmp.zzzzzzzz"};
    const std::vector<std::string> others = {"Mistvale.xml.tmp.short", "Mistvale.xml.tmp.ABCDEFGH",
                                             "Other.xml.tmp.ab12cd34", "Mistvale.xml.tmp.fresh123"};
    for (const std::string& name : leftovers)
        WriteWholeFile(folder.File(name), "half a tree");
    for (const std::string& name : others)
        WriteWholeFile(folder.File(name), "not ours");
    // Made before this start, except the last one, which a running save may still be writing.
    const std::time_t old = std::time(nullptr) - 60;
    for (const std::string& name : leftovers) {
        struct timespec times[2] = {{old, 0}, {old, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, folder.File(name).c_str(), times, 0), 0);
    }
    for (size_t i = 0; i + 1 < others.size(); ++i) {
        struct timespec times[2] = {{old, 0}, {old, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, folder.File(others[i]).c_str(), times, 0), 0);
    }
    struct timespec future[2] = {{std::time(nullptr) + 60, 0}, {std::time(nullptr) + 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, folder.File(others.back()).c_str(), future, 0), 0);
    {
        MonitorTree tree;
        ASSERT_EQ(tree.Start(path), 1);
        EXPECT_EQ(tree.Groups().Count(), 1u);
        for (const std::string& name : leftovers)
            EXPECT_FALSE(PathExists(folder.File(name))) << name;
        for (const std::string& name : others)
            EXPECT_TRUE(PathExists(folder.File(name))) << name;
        tree.Stop();
    }
}

TEST(ConfigFile, ReadableFileIsNotKeptAndNeverLoadedTreeIsNotSaved) {
    TempFolder folder;
    std::string path = folder.File("Mistvale.xml");
    WriteWholeFile(path, kCanonical);
    {
        MonitorTree tree;
        ASSERT_EQ(tree.Start(path), 1);
        EXPECT_EQ(tree.IsLoaded(), 1);
        tree.Stop();
    }
    EXPECT_EQ(ReadWholeFile(path), kCanonical);
    EXPECT_FALSE(PathExists(path + ".bad"));
    {
        MonitorTree neverStarted;
        neverStarted.AddGroup(new Group());
        neverStarted.Stop();
    }
    EXPECT_EQ(ReadWholeFile(path), kCanonical);
}

class EnvironmentGuard {
public:
    explicit EnvironmentGuard(const char* name) : name_(name) {
        const char* value = std::getenv(name);
        had_ = value != nullptr;
        if (had_)
            value_ = value;
    }
    ~EnvironmentGuard() {
        if (had_)
            ::setenv(name_, value_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    std::string value_;
};

TEST(ConfigFile, DefaultLocationFollowsTheDataHome) {
    EnvironmentGuard dataHome("XDG_DATA_HOME");
    EnvironmentGuard home("HOME");
    ::setenv("HOME", "/home/tester", 1);
    ::setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(DefaultConfigPath(), "/data/home/Mistvale.xml");
    ::setenv("XDG_DATA_HOME", "/data/home/", 1);
    EXPECT_EQ(DefaultConfigPath(), "/data/home/Mistvale.xml");
    ::setenv("XDG_DATA_HOME", "relative/path", 1); // not absolute: ignored
    EXPECT_EQ(DefaultConfigPath(), "/home/tester/.local/share/Mistvale.xml");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DefaultConfigPath(), "/home/tester/.local/share/Mistvale.xml");
    ::setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(DefaultConfigPath(), "/home/tester/.local/share/Mistvale.xml");
}

TEST(ConfigFile, StartWithoutPathUsesTheDefaultLocation) {
    TempFolder folder;
    EnvironmentGuard dataHome("XDG_DATA_HOME");
    ::setenv("XDG_DATA_HOME", folder.Path().c_str(), 1);
    MonitorTree tree;
    ASSERT_EQ(tree.Start(), 1);
    EXPECT_EQ(tree.ConfigPath(), folder.File("Mistvale.xml"));
    tree.Stop();
    EXPECT_EQ(ReadWholeFile(folder.File("Mistvale.xml")), "<Mistvale><Groups/></Mistvale>");
}

} // namespace

} // namespace mistvale
