// Paints a main window whose tree shows 1,000 graph, range and colour cells at once, through the real
// cell drawer (record lookup, path and value parsing, painters). Prints "name value unit" lines:
//   treelist_paint_1000_drawn         ms for one paint of the whole view (median)
//   treelist_paint_1000_cells         of that, ms inside the value cells (lookup, parsing, painters)
//   treelist_paint_1000_cells_allocs  heap allocations inside the value cells during one paint
//   treelist_paint_1000_allocs        heap allocations of the whole paint
//   treelist_paint_1000_qt            ms of the same paint with the tree's paint handler left out: Qt's own
//                                     background fill and bookkeeping, the floor no row drawing can go below
//   treelist_paint_1000_rows          drawn minus qt: the rows' share (texts, icons, value cells)
//   treelist_paint_1000_rows_allocs   allocations of the paint minus those of the paint without rows
// Allocations are counted through malloc itself, so Qt's count as well as ours.
#include "app/main_window.h"

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QTreeView>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace mistvale;

namespace {

std::atomic<bool> counting{false};
std::atomic<std::size_t> allocations{0};

// The window's own cell drawer, timed and counted.
TreeCellDrawer g_drawer = nullptr;
std::size_t g_cellAllocations = 0;
double g_cellMs = 0;

void CountedDrawer(TreeItem item, void* data, int column, const CellRect& rect, DrawingSurface& surface,
                   void* context) {
    const std::size_t before = allocations.load();
    const auto start = std::chrono::steady_clock::now();
    g_drawer(item, data, column, rect, surface, context);
    g_cellMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    g_cellAllocations += allocations.load() - before;
}

// Swallows the viewport's paint events before the tree-list sees them; Qt has filled the background by then.
class SkipRows : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::Paint; }
};

struct Measured {
    double ms = 0;
    std::size_t allocs = 0;
};

Measured MedianRepaint(QWidget* viewport, int rounds, std::vector<double>* cellTimes,
                       std::size_t* cellAllocs) {
    std::vector<double> times;
    std::size_t allocs = 0;
    for (int i = 0; i < rounds; ++i) {
        g_cellAllocations = 0;
        g_cellMs = 0;
        auto start = std::chrono::steady_clock::now();
        const std::size_t before = allocations.load();
        counting = true;
        viewport->repaint();
        counting = false;
        allocs = allocations.load() - before;
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (cellTimes)
            cellTimes->push_back(g_cellMs);
        if (cellAllocs)
            *cellAllocs = std::max(*cellAllocs, g_cellAllocations);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], allocs};
}

} // namespace

// glibc lets a program replace malloc and still reach its own; every allocation of the process, Qt's
// included, passes here.
extern "C" {
// NOLINTBEGIN(bugprone-reserved-identifier): glibc's own names
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
// NOLINTEND(bugprone-reserved-identifier)
void* malloc(std::size_t size) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    // Clock groups read nothing for these paths, so every cell stays a picture.
    const char* formats[] = {"graph/0/1000", "range/0/1000", "color/0/1000"};
    std::string xml = "<Mistvale><Groups><Group Name=\"Cells\" Parameter=\"Clock\"><Sources>";
    for (int i = 0; i < 1000; ++i)
        xml += "<Source Name=\"S" + std::to_string(i) + "\" Parameter=\"" + std::to_string(i) + "/" +
               formats[i % 3] + "\"/>";
    xml += "</Sources></Group></Groups></Mistvale>";
    const std::string path = home.filePath(QStringLiteral("Mistvale.xml")).toStdString();
    std::ofstream(path) << xml;

    static MainWindow window;
    window.SetConfigPath(path);
    std::vector<double> cellTimes;
    std::size_t cellAllocs = 0;
    Measured full, bare;
    int drawn = 0;
    QTimer::singleShot(200, [&] {
        QTreeView* view = window.TreeList().Tree();
        const int rowHeight = view->sizeHintForRow(0) > 0 ? view->sizeHintForRow(0) : 18;
        window.Window()->resize(900, rowHeight * 1002 + 120);
        QApplication::processEvents();
        view->viewport()->repaint(); // the first paint creates the graphs' histories and caches
        g_drawer = window.TreeList().CellDrawer();
        window.TreeList().SetCellDrawer(&CountedDrawer);
        full = MedianRepaint(view->viewport(), 21, &cellTimes, &cellAllocs);
        SkipRows skip;
        view->viewport()->installEventFilter(&skip);
        bare = MedianRepaint(view->viewport(), 21, nullptr, nullptr);
        view->viewport()->removeEventFilter(&skip);
        drawn = view->viewport()->height() / rowHeight;
        window.PostDialogMessage(kMsgClose);
    });
    window.RunMain();
    if (cellTimes.empty() || drawn < 1000) {
        std::fprintf(stderr, "the window did not show 1,000 cells (%d rows)\n", drawn);
        return 1;
    }
    std::sort(cellTimes.begin(), cellTimes.end());
    std::printf("treelist_paint_1000_drawn %.2f ms\n", full.ms);
    std::printf("treelist_paint_1000_cells %.2f ms\n", cellTimes[cellTimes.size() / 2]);
    std::printf("treelist_paint_1000_cells_allocs %zu allocations\n", cellAllocs);
    std::printf("treelist_paint_1000_allocs %zu allocations\n", full.allocs);
    std::printf("treelist_paint_1000_qt %.2f ms\n", bare.ms);
    std::printf("treelist_paint_1000_rows %.2f ms\n", full.ms - bare.ms);
    std::printf("treelist_paint_1000_rows_allocs %lld allocations\n",
                static_cast<long long>(full.allocs) - static_cast<long long>(bare.allocs));
    return 0;
}
