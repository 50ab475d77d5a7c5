#pragma once

#include "model/tree_rows.h"
#include "platform/wide_string.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mistvale {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "mistvale-model-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        path_ = ::mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
    }
    ~TempFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
            std::filesystem::remove_all(path_, ignored);
        }
    }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string Utf8(const WideString& text) {
    return text.ToUtf8();
}

// Polls until condition holds or the time is up; the result of the last look.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A tree sink that records every call like a tiny tree-list.
struct RecordingTree {
    struct Item {
        int parent; // index of the parent item, -1 at the root
        std::string text;
        int icon;
        int hasChildren;
        Record* data;
        bool expanded;
    };
    std::vector<Item> items;
    std::vector<std::string> calls;
    Record* selectedData = nullptr; // what GetSelectedItemData reports
    int selectedIndex = -2;         // what SelectItem was given (-1: none, -2: never called)
    int scrolledIndex = -2;
    int redrawDepth = 0;
    int failRootInsertsNamed = 0; // when set, root inserts whose text starts with "FAIL" fail

    static RecordingTree& Of(void* context) { return *static_cast<RecordingTree*>(context); }
    // Row handles are row numbers in disguise, as a tree view's handles may be.
    static void* Handle(int index) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a number, never dereferenced
        return reinterpret_cast<void*>(static_cast<intptr_t>(index + 1));
    }
    static int Index(void* item) {
        return item == nullptr ? -1 : static_cast<int>(reinterpret_cast<intptr_t>(item)) - 1;
    }

    TreeSink Sink() {
        TreeSink sink{};
        sink.context = this;
        sink.setRedraw = [](void* c, int on) {
            Of(c).redrawDepth += on ? -1 : 1;
            Of(c).calls.push_back(on ? "redraw-on" : "redraw-off");
        };
        sink.getSelectedItemData = [](void* c) -> Record* {
            Of(c).calls.push_back("get-selected");
            return Of(c).selectedData;
        };
        sink.deleteAllItems = [](void* c) {
            Of(c).items.clear();
            Of(c).calls.push_back("delete-all");
        };
        sink.insertItem = [](void* c, void* parent, const WideString& text, int icon, int hasChildren,
                             Record* data) -> void* {
            RecordingTree& tree = Of(c);
            std::string utf8 = text.ToUtf8();
            if (parent == nullptr && tree.failRootInsertsNamed && utf8.rfind("FAIL", 0) == 0) {
                return nullptr;
            }
            tree.items.push_back(Item{Index(parent), utf8, icon, hasChildren, data, false});
            tree.calls.push_back("insert");
            return Handle(static_cast<int>(tree.items.size()) - 1);
        };
        sink.expandItem = [](void* c, void* item) {
            Of(c).items[Index(item)].expanded = true;
            Of(c).calls.push_back("expand");
        };
        sink.findItemByData = [](void* c, const Record* data) -> void* {
            RecordingTree& tree = Of(c);
            for (size_t i = 0; i < tree.items.size(); ++i) {
                if (tree.items[i].data == data) {
                    return Handle(static_cast<int>(i));
                }
            }
            return nullptr;
        };
        sink.selectItem = [](void* c, void* item) {
            Of(c).selectedIndex = Index(item);
            Of(c).calls.push_back("select");
        };
        sink.scrollItemToTop = [](void* c, void* item) {
            Of(c).scrolledIndex = Index(item);
            Of(c).calls.push_back("scroll");
        };
        return sink;
    }
};

} // namespace mistvale
