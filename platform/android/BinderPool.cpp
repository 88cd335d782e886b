#include "platform/android/BinderPool.h"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/android/IPCThreadState.h"
#include "platform/android/ProcessState.h"

namespace android {

namespace {

constexpr size_t kPoolThreads = 2;
constexpr size_t kKernelNameMax = 15;

struct Pool {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<void()>> work;
    std::vector<std::thread> threads;
    // Bumped by every Shutdown(): a server leaves when the generation it joined is over.
    uint64_t generation = 0;
    bool closed = false;
};

// Never destroyed: the daemon never leaves the pool, and joinable threads in a destroyed
// static would end the process at exit.
Pool& ThePool() {
    static Pool* const pool = new Pool();
    return *pool;
}

thread_local bool tOnPool = false;

// Runs queued work until the pool's generation changes.
void Serve() {
    Pool& pool = ThePool();
    tOnPool = true;
    std::unique_lock<std::mutex> lock(pool.lock);
    const uint64_t generation = pool.generation;
    for (;;) {
        pool.changed.wait(lock, [&] {
            return pool.generation != generation || pool.closed || !pool.work.empty();
        });
        if (pool.generation != generation || pool.closed) break;
        std::function<void()> work = std::move(pool.work.front());
        pool.work.pop_front();
        lock.unlock();
        try {
            work();
        } catch (...) {
            // Work comes from the device library on behalf of remote callers; whatever it
            // throws must not take the pool thread down.
        }
        work = nullptr;
        lock.lock();
    }
    tOnPool = false;
}

}  // namespace

void BinderPool::Post(std::function<void()> work) {
    if (!work) return;
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> lock(pool.lock);
        if (pool.closed) return;
        pool.work.push_back(std::move(work));
    }
    pool.changed.notify_one();
}

void BinderPool::Shutdown() {
    Pool& pool = ThePool();
    std::vector<std::thread> threads;
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(pool.lock);
        ++pool.generation;
        pool.closed = true;
        threads.swap(pool.threads);
        dropped.swap(pool.work);
    }
    pool.changed.notify_all();
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

bool BinderPool::OnPoolThread() {
    return tOnPool;
}

sp<ProcessState> ProcessState::self() {
    static const sp<ProcessState>* const instance = new sp<ProcessState>(new ProcessState());
    return *instance;
}

void ProcessState::startThreadPool() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.lock);
    if (!pool.threads.empty()) return;
    pool.closed = false;
    for (size_t i = 1; i <= kPoolThreads; ++i) {
        const std::string name = "Binder:" + std::to_string(getpid()) + "_" + std::to_string(i);
        try {
            pool.threads.emplace_back([name] {
                pthread_setname_np(pthread_self(), name.substr(0, kKernelNameMax).c_str());
                Serve();
            });
        } catch (...) {
            // Out of threads: the pool runs with those it has; joinThreadPool still serves.
        }
    }
}

size_t ProcessState::poolThreadCount() const {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.lock);
    return pool.threads.size();
}

IPCThreadState* IPCThreadState::self() {
    static IPCThreadState* const state = new IPCThreadState();
    return state;
}

void IPCThreadState::joinThreadPool(bool) {
    Serve();
}

}  // namespace android
