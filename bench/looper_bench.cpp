// The looper against the least a hand-off between two threads can cost: a mutex, a condition
// variable and a deque. Both carry messages from the benchmark thread to a consumer thread;
// throughput is batches of posts, latency one message at a time from post to handler.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/BenchRows.h"
#include "platform/android/AHandler.h"
#include "platform/android/ALooper.h"
#include "platform/android/AMessage.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBatch = 1000;
constexpr int kLatencySamples = 4000;
constexpr int kBlock = 20;
constexpr int kRepetitions = 9;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Posters run on the first core and consumers on the second, the looper's and the floor's
// alike: which core a woken thread lands on (one that is busy, or one that must first leave its
// idle state) costs more than what is measured, so both sides get the same.
constexpr int kPosterCpu = 0;
// One core for everything shows what a single-core device would see; read by each consumer
// when it starts, set before its rig is made.
std::atomic<int> gConsumerCpu{1};

void PinTo(int cpu) {
    if (std::thread::hardware_concurrency() < 2) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
}

// What the consumer side reports back: how many messages it handled, and when it began to
// handle the latest. The benchmark thread blocks on it, as a poster waiting for an answer would.
class Tally {
public:
    void handled() {
        const int64_t at = NowNs();
        {
            std::lock_guard<std::mutex> lock(mLock);
            mLastNs = at;
            ++mCount;
        }
        mChanged.notify_one();
    }
    // Waits until count messages were handled in all; returns when the last one began.
    int64_t waitFor(uint64_t count) {
        std::unique_lock<std::mutex> lock(mLock);
        mChanged.wait(lock, [&] { return mCount >= count; });
        return mLastNs;
    }

private:
    std::mutex mLock;
    std::condition_variable mChanged;
    uint64_t mCount = 0;
    int64_t mLastNs = 0;
};

// The floor: one consumer thread popping one item per lock, as plainly as it can be written.
template <typename Item>
class BareHandOff {
public:
    explicit BareHandOff(Tally* tally) : mTally(tally), mThread([this] { run(); }) {}
    ~BareHandOff() {
        {
            std::lock_guard<std::mutex> lock(mLock);
            mStopping = true;
        }
        mWake.notify_one();
        mThread.join();
    }
    void post(Item item) {
        {
            std::lock_guard<std::mutex> lock(mLock);
            mQueue.push_back(std::move(item));
        }
        mWake.notify_one();
    }

private:
    void run() {
        PinTo(gConsumerCpu);
        for (;;) {
            std::unique_lock<std::mutex> lock(mLock);
            mWake.wait(lock, [this] { return mStopping || !mQueue.empty(); });
            if (mQueue.empty()) return;
            Item item = std::move(mQueue.front());
            mQueue.pop_front();
            lock.unlock();
            benchmark::DoNotOptimize(item);
            item = Item();
            mTally->handled();
        }
    }

    Tally* const mTally;
    std::mutex mLock;
    std::condition_variable mWake;
    std::deque<Item> mQueue;
    bool mStopping = false;
    std::thread mThread;
};

class CountingHandler : public android::AHandler {
public:
    explicit CountingHandler(Tally* tally) : mTally(tally) {}

protected:
    void onMessageReceived(const android::sp<android::AMessage>&) override {
        // Only the looper thread touches the flag.
        if (!mPinned) {
            PinTo(gConsumerCpu);
            mPinned = true;
        }
        mTally->handled();
    }

private:
    Tally* const mTally;
    bool mPinned = false;
};

// A started looper with one handler, as the daemon has it.
class LooperRig {
public:
    explicit LooperRig(Tally* tally) : mLooper(new android::ALooper()) {
        mLooper->setName("bench-looper");
        mHandler = new CountingHandler(tally);
        mId = mLooper->registerHandler(mHandler);
        mLooper->start();
    }
    ~LooperRig() {
        mLooper->unregisterHandler(mId);
        mLooper->stop();
    }
    void post() {
        android::sp<android::AMessage> msg = new android::AMessage(1, mId);
        msg->post();
    }

private:
    android::sp<android::ALooper> mLooper;
    android::sp<CountingHandler> mHandler;
    android::handler_id mId = 0;
};

// The floor's post() has the same shape as the looper's: one item per call.
struct BareRig : BareHandOff<int64_t> {
    explicit BareRig(Tally* tally) : BareHandOff(tally) {}
    void post() { BareHandOff::post(NowNs()); }
};

// Not a floor but a measure of what the looper's gap is made of: the bare hand-off carrying
// what every post carries, a newly made reference-counted message freed by the consumer.
struct BareMessageRig : BareHandOff<android::sp<android::AMessage>> {
    explicit BareMessageRig(Tally* tally) : BareHandOff(tally) {}
    void post() { BareHandOff::post(new android::AMessage(1, 0)); }
};

// One way of handing messages over, with the count of what it has handled so far.
template <typename Rig>
struct Lane {
    Tally tally;
    Rig rig{&tally};
    uint64_t posted = 0;

    // A batch posted and handled, in ns.
    int64_t batch() {
        const int64_t start = NowNs();
        for (int i = 0; i < kBatch; ++i) rig.post();
        posted += kBatch;
        tally.waitFor(posted);
        return NowNs() - start;
    }
    // One message from its post to its handler, in us.
    double sample() {
        const int64_t start = NowNs();
        rig.post();
        const int64_t began = tally.waitFor(++posted);
        return static_cast<double>(began - start) / 1000.0;
    }
};

double PerSecond(uint64_t count, int64_t ns) {
    return ns > 0 ? static_cast<double>(count) * 1e9 / static_cast<double>(ns) : 0;
}

// The looper and its floors take turns batch by batch (the order rotating), so that a burst of
// load from elsewhere on the machine falls on all of them alike.
void Throughput(benchmark::State& state, int consumerCpu) {
    PinTo(kPosterCpu);
    gConsumerCpu = consumerCpu;
    Lane<LooperRig> looper;
    Lane<BareRig> bare;
    Lane<BareMessageRig> carrying;
    int64_t ns[3] = {0, 0, 0};
    uint64_t turn = 0;
    for (auto _ : state) {
        for (uint64_t k = 0; k < 3; ++k) {
            const uint64_t which = (turn + k) % 3;
            ns[which] += which == 0 ? looper.batch() : which == 1 ? bare.batch() : carrying.batch();
        }
        ++turn;
    }
    state.counters["looper_per_s"] = PerSecond(looper.posted, ns[0]);
    state.counters["bare_per_s"] = PerSecond(bare.posted, ns[1]);
    state.counters["carrying_per_s"] = PerSecond(carrying.posted, ns[2]);
}

void BM_Throughput(benchmark::State& state) {
    Throughput(state, 1);
}
void BM_ThroughputOneCore(benchmark::State& state) {
    Throughput(state, kPosterCpu);
}

// The looper on its own, for a profiler (perf record ... --benchmark_filter=BM_LooperOnly).
void BM_LooperOnly(benchmark::State& state) {
    PinTo(kPosterCpu);
    gConsumerCpu = 1;
    Lane<LooperRig> looper;
    for (auto _ : state) looper.batch();
}

// In blocks of kBlock messages, alternating which goes first. Within a block each message finds
// the consumer just back at its wait, as in a burst; the first of a block wakes a consumer that
// slept through the other's block, as a lone event does, and is counted apart as "cold".
void BM_Latency(benchmark::State& state) {
    PinTo(kPosterCpu);
    gConsumerCpu = 1;
    Lane<LooperRig> looper;
    Lane<BareRig> bare;
    std::vector<double> us[2];
    std::vector<double> coldUs[2];
    auto take = [&](int side, int i) {
        const double sample = side == 0 ? looper.sample() : bare.sample();
        (i == 0 ? coldUs : us)[side].push_back(sample);
    };
    int first = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) take(first, i);
        for (int i = 0; i < kBlock; ++i) take(1 - first, i);
        first = 1 - first;
    }
    const char* names[2] = {"looper", "bare"};
    for (int side = 0; side < 2; ++side) {
        const std::string name = names[side];
        state.counters[name + "_p50"] = orvix::bench::Quantile(us[side], 0.50);
        state.counters[name + "_p99"] = orvix::bench::Quantile(us[side], 0.99);
        state.counters[name + "_cold_p50"] = orvix::bench::Quantile(coldUs[side], 0.50);
    }
    // Both sides of one repetition met the same moments of load elsewhere.
    for (const char* which : {"p50", "p99"}) {
        const double bare = state.counters[std::string("bare_") + which];
        state.counters[std::string("ratio_") + which] =
            bare > 0 ? state.counters[std::string("looper_") + which] / bare : 0;
    }
}

BENCHMARK(BM_Throughput)->Iterations(200)->Repetitions(kRepetitions)->UseRealTime();
BENCHMARK(BM_ThroughputOneCore)->Iterations(200)->Repetitions(kRepetitions)->UseRealTime();
BENCHMARK(BM_LooperOnly)->Iterations(200)->UseRealTime();
BENCHMARK(BM_Latency)
    ->Iterations(kLatencySamples / kBlock)
    ->Repetitions(kRepetitions)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    using orvix::bench::Fixed;
    orvix::bench::Collector collector;
    orvix::bench::RunInterleaved(argc, argv, &collector);

    const double bare = collector.median("BM_Throughput", "bare_per_s");
    orvix::bench::PrintRatioRow(
        "looper: messages posted from another thread and handled, per second",
        collector.median("BM_Throughput", "looper_per_s"), bare, 0, 0.8, false);
    const double carrying = collector.median("BM_Throughput", "carrying_per_s");
    std::printf("detail|looper|bare hand-off carrying a new AMessage each, per second|%s|%s\n",
                Fixed(carrying, 0).c_str(), Fixed(bare > 0 ? carrying / bare : 0, 2).c_str());
    const double oneCoreBare = collector.median("BM_ThroughputOneCore", "bare_per_s");
    const double oneCore = collector.median("BM_ThroughputOneCore", "looper_per_s");
    std::printf("detail|looper|one core for both threads, looper and floor per second|%s|%s|%s\n",
                Fixed(oneCore, 0).c_str(), Fixed(oneCoreBare, 0).c_str(),
                Fixed(oneCoreBare > 0 ? oneCore / oneCoreBare : 0, 2).c_str());
    for (const char* which : {"p50", "p99"}) {
        orvix::bench::PrintRatioRow(
            std::string("looper: post-to-handle latency ") + which + " (us)",
            collector.median("BM_Latency", std::string("looper_") + which),
            collector.median("BM_Latency", std::string("bare_") + which), 1, 1.25, true,
            collector.median("BM_Latency", std::string("ratio_") + which));
    }
    std::printf("detail|looper|cold p50, looper and floor (us)|%s|%s\n",
                Fixed(collector.median("BM_Latency", "looper_cold_p50"), 1).c_str(),
                Fixed(collector.median("BM_Latency", "bare_cold_p50"), 1).c_str());
    // How far the tail moves between repetitions of the same code says how much of a p99
    // ratio is the machine.
    for (const char* side : {"looper", "bare"}) {
        const std::vector<double> tails =
            collector.samples("BM_Latency", std::string(side) + "_p99");
        if (tails.empty()) continue;
        const auto [low, high] = std::minmax_element(tails.begin(), tails.end());
        std::printf("detail|looper|p99 range over repetitions, %s|%s|%s\n",
                    std::string(side) == "looper" ? "looper" : "floor", Fixed(*low, 1).c_str(),
                    Fixed(*high, 1).c_str());
    }
    return 0;
}
