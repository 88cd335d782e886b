#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/android/Binder.h"
#include "platform/android/BinderPool.h"
#include "platform/android/IPCThreadState.h"
#include "platform/android/ProcessState.h"
#include "tests/fakes/Wait.h"

namespace {

using android::BinderPool;
using orvix::fakes::WaitFor;

TEST(FoundationBinder, ParcelTellsNullFromEmptyAndSkipsItemsOfAnotherType) {
    android::Parcel parcel;
    parcel.writeCString("pause");
    parcel.writeCString("");
    parcel.writeCString(nullptr);
    parcel.writeInt32(42);
    parcel.writeInt32(-7);
    EXPECT_STREQ("pause", parcel.readCString());
    const char* empty = parcel.readCString();
    ASSERT_NE(nullptr, empty);
    EXPECT_STREQ("", empty);
    EXPECT_EQ(nullptr, parcel.readCString());
    EXPECT_EQ(nullptr, parcel.readCString());
    EXPECT_EQ(-7, parcel.readInt32());
}

TEST(FoundationBinder, PoolThreadsAndJoinedThreadsServeWorkUntilShutdown) {
    android::sp<android::ProcessState> process = android::ProcessState::self();
    process->startThreadPool();
    process->startThreadPool();
    EXPECT_EQ(2u, process->poolThreadCount());
    EXPECT_FALSE(BinderPool::OnPoolThread());
    std::atomic<bool> joined{false};
    std::thread joiner([&] {
        android::IPCThreadState::self()->joinThreadPool(true);
        joined = true;
    });

    // Work that throws does not take a thread down.
    std::atomic<int> onPool{0};
    BinderPool::Post([] { throw std::runtime_error("bad transaction"); });
    for (int i = 0; i < 20; ++i) BinderPool::Post([&] { onPool += BinderPool::OnPoolThread(); });
    EXPECT_TRUE(WaitFor([&] { return onPool == 20; }));
    EXPECT_FALSE(joined);
    BinderPool::Shutdown();
    joiner.join();
    EXPECT_EQ(0u, process->poolThreadCount());
    // After the shutdown work is dropped at once, not kept.
    auto token = std::make_shared<int>(0);
    BinderPool::Post([token] {});
    EXPECT_EQ(1, token.use_count());

    // The pool opens again, and shuts down from one of its own threads without a hang.
    process->startThreadPool();
    std::atomic<bool> shutDown{false};
    BinderPool::Post([&] {
        BinderPool::Shutdown();
        shutDown = true;
    });
    EXPECT_TRUE(WaitFor([&] { return shutDown && process->poolThreadCount() == 0; }));
}

}  // namespace
