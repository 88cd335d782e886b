#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/android/Binder.h"
#include "platform/android/BinderPool.h"
#include "platform/android/IPCThreadState.h"
#include "platform/android/ProcessState.h"
#include "tests/fakes/Wait.h"

namespace {

using android::BinderPool;
using android::IBinder;
using android::IInterface;
using android::Parcel;
using android::sp;
using orvix::fakes::WaitFor;

TEST(FoundationBinder, ParcelReadsBackInOrderAndTellsNullFromEmpty) {
    Parcel parcel;
    parcel.writeInt32(42);
    parcel.writeCString("pause");
    parcel.writeCString("");
    parcel.writeCString(nullptr);
    parcel.writeInt32(-7);

    EXPECT_EQ(42, parcel.readInt32());
    const char* event = parcel.readCString();
    ASSERT_NE(nullptr, event);
    EXPECT_STREQ("pause", event);
    const char* empty = parcel.readCString();
    ASSERT_NE(nullptr, empty);
    EXPECT_STREQ("", empty);
    EXPECT_EQ(nullptr, parcel.readCString());
    // A read of the wrong type consumes the item and gives nothing.
    EXPECT_EQ(nullptr, parcel.readCString());
    EXPECT_EQ(0, parcel.readInt32());
    EXPECT_EQ(nullptr, parcel.readCString());

    // What was read stays valid while more is written.
    for (int i = 0; i < 100; ++i) parcel.writeCString("more");
    EXPECT_STREQ("pause", event);
    parcel.rewind();
    EXPECT_EQ(42, parcel.readInt32());
    EXPECT_EQ(0, parcel.readInt32());
    EXPECT_STREQ("", parcel.readCString());
}

class IEcho : public IInterface {
public:
    static const android::String16 descriptor;
};
const android::String16 IEcho::descriptor = "orvix.test.IEcho";

class Echo : public android::BnInterface<IEcho> {
protected:
    android::status_t onTransact(uint32_t code, const Parcel& data, Parcel* reply,
                                 uint32_t flags) override {
        if (code != IBinder::FIRST_CALL_TRANSACTION) {
            return BBinder::onTransact(code, data, reply, flags);
        }
        const char* text = data.readCString();
        reply->writeCString(text);
        return android::OK;
    }
};

TEST(FoundationBinder, TransactReachesOnTransactAndInterfacesFindTheirBinder) {
    sp<Echo> echo = new Echo();
    Parcel data;
    data.writeCString("hello");
    data.readCString();
    Parcel reply;
    EXPECT_EQ(android::OK, echo->transact(IBinder::FIRST_CALL_TRANSACTION, data, &reply));
    EXPECT_STREQ("hello", reply.readCString());
    EXPECT_EQ(android::UNKNOWN_TRANSACTION, echo->transact(99, data, &reply));

    sp<IBinder> binder = echo.get();
    EXPECT_EQ(IEcho::descriptor, binder->getInterfaceDescriptor());
    EXPECT_EQ(echo.get(), binder->localBinder());
    sp<IInterface> iface = binder->queryLocalInterface(IEcho::descriptor);
    ASSERT_NE(nullptr, iface);
    EXPECT_EQ(binder, IInterface::asBinder(iface));
    EXPECT_EQ(nullptr, binder->queryLocalInterface("orvix.test.Other"));
    EXPECT_EQ(nullptr, IInterface::asBinder(static_cast<const IInterface*>(nullptr)));

    sp<android::BBinder> plain = new android::BBinder();
    EXPECT_EQ("", plain->getInterfaceDescriptor());
    EXPECT_EQ(nullptr, plain->queryLocalInterface(IEcho::descriptor));
    EXPECT_EQ(android::UNKNOWN_TRANSACTION,
              plain->transact(IBinder::FIRST_CALL_TRANSACTION, data, &reply));
}

std::string KernelName() {
    std::ifstream comm("/proc/self/task/" + std::to_string(gettid()) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

TEST(FoundationBinder, PoolThreadsAndJoinedThreadsServeWorkUntilShutdown) {
    sp<android::ProcessState> process = android::ProcessState::self();
    EXPECT_EQ(process, android::ProcessState::self());
    process->startThreadPool();
    process->startThreadPool();
    EXPECT_EQ(2u, process->poolThreadCount());
    EXPECT_FALSE(BinderPool::OnPoolThread());

    std::atomic<bool> joined{false};
    std::thread joiner([&] {
        android::IPCThreadState::self()->joinThreadPool(true);
        joined = true;
    });

    // Three items that block until released can only all start if the two pool threads and
    // the joined thread serve the same queue.
    std::mutex lock;
    std::condition_variable cv;
    bool release = false;
    std::set<std::string> names;
    std::atomic<int> started{0};
    std::atomic<int> onPool{0};
    for (int i = 0; i < 3; ++i) {
        BinderPool::Post([&] {
            if (BinderPool::OnPoolThread()) onPool++;
            std::unique_lock<std::mutex> guard(lock);
            names.insert(KernelName());
            started++;
            cv.wait(guard, [&] { return release; });
        });
    }
    ASSERT_TRUE(WaitFor([&] { return started == 3; }));
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    cv.notify_all();
    EXPECT_EQ(3, onPool);
    const std::string pid = std::to_string(getpid());
    EXPECT_EQ(1u, names.count("Binder:" + pid + "_1"));
    EXPECT_EQ(1u, names.count("Binder:" + pid + "_2"));

    // Work that throws does not take a thread down.
    std::atomic<int> after{0};
    BinderPool::Post([] { throw std::runtime_error("bad transaction"); });
    for (int i = 0; i < 10; ++i) BinderPool::Post([&] { after++; });
    ASSERT_TRUE(WaitFor([&] { return after == 10; }));
    EXPECT_FALSE(joined);

    BinderPool::Shutdown();
    joiner.join();
    EXPECT_TRUE(joined);
    EXPECT_EQ(0u, process->poolThreadCount());

    // After the shutdown work is dropped at once, not kept.
    auto token = std::make_shared<int>(0);
    BinderPool::Post([token] {});
    EXPECT_EQ(1, token.use_count());
    android::IPCThreadState::self()->joinThreadPool(true);

    // The pool can be opened again, and shut down from one of its own threads.
    process->startThreadPool();
    EXPECT_EQ(2u, process->poolThreadCount());
    std::atomic<bool> shutDown{false};
    BinderPool::Post([&] {
        BinderPool::Shutdown();
        shutDown = true;
    });
    EXPECT_TRUE(WaitFor([&] { return shutDown && process->poolThreadCount() == 0; }));
}

}  // namespace
