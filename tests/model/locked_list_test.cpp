#include "model/locked_list.h"
#include "model_test_support.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace mistvale {

namespace {

struct CountedItem : ListItem {
    explicit CountedItem(int value, int* deleted = nullptr) : value(value), deleted(deleted) {}
    ~CountedItem() override {
        if (deleted != nullptr)
            ++*deleted;
    }
    int value;
    int* deleted;
};

std::vector<int> Values(LockedList& list) {
    std::vector<int> values;
    SharedLock lock(list);
    for (ListItem* item = list.First(); item != nullptr; item = item->Next())
        values.push_back(static_cast<CountedItem*>(item)->value);
    return values;
}

TEST(LockedList, KeepsInsertionOrderAndUnlinksAnywhere) {
    LockedList list;
    CountedItem* items[4];
    for (int i = 0; i < 4; ++i) {
        items[i] = new CountedItem(i);
        list.Append(items[i]);
    }
    EXPECT_EQ(list.Count(), 4u);
    EXPECT_EQ(Values(list), (std::vector<int>{0, 1, 2, 3}));

    EXPECT_EQ(list.Unlink(items[1]), 1); // middle
    EXPECT_EQ(list.Unlink(items[3]), 1); // tail
    EXPECT_EQ(list.Unlink(items[1]), 0); // already gone
    EXPECT_EQ(list.Contains(items[1]), 0);
    EXPECT_EQ(Values(list), (std::vector<int>{0, 2}));
    EXPECT_EQ(list.Last(), items[2]);
    EXPECT_EQ(items[2]->Previous(), items[0]);

    list.Append(items[3]); // an unlinked item can be listed again
    EXPECT_EQ(Values(list), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(list.TakeFirst(), items[0]);
    EXPECT_EQ(Values(list), (std::vector<int>{2, 3}));
    EXPECT_EQ(items[2]->Previous(), nullptr);
    delete items[0];
    delete items[1];

    CountedItem stranger(9);
    EXPECT_EQ(list.Unlink(&stranger), 0);
    EXPECT_EQ(list.Contains(&stranger), 0);
    EXPECT_EQ(list.Unlink(nullptr), 0);
    list.Append(nullptr);
    EXPECT_EQ(list.Count(), 2u);
}

TEST(LockedList, DeleteAllDeletesThroughTheBase) {
    int deleted = 0;
    {
        LockedList list;
        for (int i = 0; i < 3; ++i)
            list.Append(new CountedItem(i, &deleted));
        list.DeleteAll();
        EXPECT_EQ(deleted, 3);
        EXPECT_EQ(list.Count(), 0u);
        EXPECT_EQ(list.First(), nullptr);
        EXPECT_EQ(list.Last(), nullptr);
        list.Append(new CountedItem(7, &deleted));
    }
    EXPECT_EQ(deleted, 4); // the destructor deletes what is still listed
}

// A thread that holds the shared lock takes it again while a writer waits, and the writer gets
// in only after every shared hold is released.
TEST(LockedList, SharedLockIsReentrantWhileAWriterWaits) {
    LockedList list;
    std::atomic<bool> writerStarted{false};
    std::atomic<bool> writerDone{false};
    list.LockShared();
    std::thread writer([&] {
        writerStarted = true;
        list.Append(new CountedItem(1));
        writerDone = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return writerStarted.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(writerDone.load()); // waits for the reader

    CountedItem absent(9);
    // Contains takes the shared lock again: it would deadlock if a second shared lock had to pass
    // the exclusive lock that the waiting writer holds.
    EXPECT_EQ(list.Contains(&absent), 0);
    EXPECT_EQ(list.Count(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(writerDone.load()); // still one shared hold

    list.UnlockShared();
    writer.join();
    EXPECT_TRUE(writerDone.load());
    EXPECT_EQ(list.Count(), 1u);
}

// Ends the test program when a test hangs, naming the test, instead of leaving it to the runner's
// time-out.
class Watchdog {
public:
    explicit Watchdog(const char* what) : what_(what), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::seconds(10), [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: %s hangs\n", what_);
            std::abort();
        }
    }
    const char* what_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// A writer reads its own list (Count, Contains, Values) while a new reader waits for it.
TEST(LockedList, WriterReadsItsOwnListWhileAReaderWaits) {
    Watchdog watchdog("a writer reading its list while a reader waits");
    LockedList list;
    CountedItem* item = new CountedItem(1);
    std::atomic<bool> readerStarted{false};
    std::atomic<bool> readerDone{false};
    std::atomic<size_t> readerSaw{0};
    list.LockExclusive();
    list.Append(item);
    std::thread reader([&] {
        readerStarted = true;
        readerSaw = list.Count();
        readerDone = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return readerStarted.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let it reach the lock
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Contains(item), 1);
    EXPECT_EQ(Values(list), std::vector<int>{1});
    list.Append(new CountedItem(2));
    // The reader stays out while the writer works, also after the writer's own reads.
    EXPECT_FALSE(readerDone.load());
    list.UnlockExclusive();
    reader.join();
    EXPECT_EQ(readerSaw.load(), 2u);
}

// A new reader on another thread waits while a writer holds the list.
TEST(LockedList, ReadersWaitForTheWriter) {
    LockedList list;
    std::atomic<bool> readerDone{false};
    list.LockExclusive();
    list.Append(new CountedItem(5)); // the exclusive lock is recursive
    std::thread reader([&] {
        EXPECT_EQ(list.Count(), 1u);
        readerDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(readerDone.load());
    list.UnlockExclusive();
    reader.join();
    EXPECT_TRUE(readerDone.load());
}

// The guards release on scope exit: afterwards a writer on another thread gets through.
TEST(LockedList, GuardsReleaseOnScopeExit) {
    LockedList list;
    {
        SharedLock outer(list);
        SharedLock inner(list);
    }
    {
        ExclusiveLock writer(list);
        ExclusiveLock again(list);
    }
    std::thread other([&] { list.Append(new CountedItem(3)); });
    other.join();
    EXPECT_EQ(list.Count(), 1u);
}

} // namespace

} // namespace mistvale
