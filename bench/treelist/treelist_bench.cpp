// Rebuilds a tree-list of 100 groups x 100 sources (a tenth of them graph cells) from the model 20 times
// offscreen and paints it. Prints "name value unit" lines.
#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"
#include "model/tree_rows.h"
#include "treelist/tree_list_view.h"
#include "treelist/tree_sink_adapter.h"
#include "treelist/value_cell_drawer.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace mistvale;

namespace {

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    LockedList groups;
    for (int g = 0; g < 100; ++g) {
        Group* group = new Group();
        group->SetName(WideString::FromUtf8(("Group " + std::to_string(g)).c_str()));
        for (int s = 0; s < 100; ++s) {
            Source* source = new Source();
            source->SetName(WideString::FromUtf8(("Source " + std::to_string(s)).c_str()));
            if (s % 10 == 0) {
                source->SetParameter(u"100/graph/0/1000");
            } else {
                source->SetParameter(u"100");
                source->SetValue(WideString::FromUtf8(std::to_string(g * 100 + s).c_str()));
            }
            group->Sources().Append(source);
        }
        groups.Append(group);
    }

    QTreeView tree;
    tree.resize(800, 600);
    TreeListView view;
    view.Attach(&tree, 0x4000000C);
    view.SetCellDrawer(&DrawValueCell);
    view.InsertColumn(u"Name", 0, 300, 0);
    view.InsertColumn(u"Value", 1, 400, 0);
    tree.show();
    QApplication::processEvents();

    TreeSink sink{};
    MakeTreeSink(view, sink);
    FillTreeRows(groups, sink); // warm-up
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        FillTreeRows(groups, sink);
        times.push_back(MillisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    std::printf("treelist_rebuild_10000_median %.2f ms\n", (times[9] + times[10]) / 2);

    // The model's share: the same rebuild into a sink that only counts the items.
    static int counted = 0;
    TreeSink counting{};
    counting.insertItem = [](void*, void*, const WideString&, int, int, Record*) -> void* {
        ++counted;
        return &counted;
    };
    std::vector<double> modelTimes;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        FillTreeRows(groups, counting);
        modelTimes.push_back(MillisecondsSince(start));
    }
    std::sort(modelTimes.begin(), modelTimes.end());
    std::printf("treelist_rebuild_rows_only_median %.2f ms\n", (modelTimes[9] + modelTimes[10]) / 2);

    // One full paint of the visible rows (the graph cells create their histories on the first one).
    QImage image(tree.viewport()->size(), QImage::Format_RGB32);
    tree.viewport()->render(&image);
    std::vector<double> paints;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        tree.viewport()->render(&image);
        paints.push_back(MillisecondsSince(start));
    }
    std::sort(paints.begin(), paints.end());
    std::printf("treelist_paint_10000 %.2f ms\n", (paints[9] + paints[10]) / 2);

    // Every one of the 10,100 rows painted once, page by page.
    QScrollBar* bar = tree.verticalScrollBar();
    const auto start = std::chrono::steady_clock::now();
    int pages = 0;
    for (int value = 0;; value += bar->pageStep()) {
        bar->setValue(value);
        tree.viewport()->render(&image);
        ++pages;
        if (value >= bar->maximum())
            break;
    }
    std::printf("treelist_paint_all_rows %.2f ms\n", MillisecondsSince(start));
    std::printf("treelist_paint_pages %d pages\n", pages);
    groups.DeleteAll();
    return 0;
}
