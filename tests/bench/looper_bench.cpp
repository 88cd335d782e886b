// The looper against the least a hand-off between two threads can cost: a mutex, a condition
// variable and a deque. Both carry messages from the benchmark thread to a consumer thread;
// throughput is batches of posts, latency one message at a time from post to handler.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/android/AHandler.h"
#include "platform/android/ALooper.h"
#include "platform/android/AMessage.h"
#include "tests/bench/BenchRows.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBatch = 1000;
constexpr int kLatencySamples = 4000;
constexpr int kRepetitions = 9;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
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
    void onMessageReceived(const android::sp<android::AMessage>&) override { mTally->handled(); }

private:
    Tally* const mTally;
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

template <typename Rig>
void Throughput(benchmark::State& state) {
    Tally tally;
    Rig rig(&tally);
    uint64_t posted = 0;
    int64_t totalNs = 0;
    for (auto _ : state) {
        const int64_t start = NowNs();
        for (int i = 0; i < kBatch; ++i) rig.post();
        posted += kBatch;
        tally.waitFor(posted);
        totalNs += NowNs() - start;
    }
    state.counters["per_s"] = totalNs > 0 ? static_cast<double>(posted) * 1e9 / totalNs : 0;
}

template <typename Rig>
void Latency(benchmark::State& state) {
    Tally tally;
    Rig rig(&tally);
    std::vector<double> samples;
    samples.reserve(kLatencySamples);
    uint64_t posted = 0;
    for (auto _ : state) {
        const int64_t start = NowNs();
        rig.post();
        const int64_t began = tally.waitFor(++posted);
        samples.push_back(static_cast<double>(began - start) / 1000.0);
    }
    state.counters["p50_us"] = orvix::bench::Quantile(samples, 0.50);
    state.counters["p99_us"] = orvix::bench::Quantile(samples, 0.99);
}

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

void BM_LooperThroughput(benchmark::State& s) {
    Throughput<LooperRig>(s);
}
void BM_BareThroughput(benchmark::State& s) {
    Throughput<BareRig>(s);
}
void BM_BareMessageThroughput(benchmark::State& s) {
    Throughput<BareMessageRig>(s);
}
void BM_LooperLatency(benchmark::State& s) {
    Latency<LooperRig>(s);
}
void BM_BareLatency(benchmark::State& s) {
    Latency<BareRig>(s);
}

BENCHMARK(BM_LooperThroughput)->Iterations(200)->Repetitions(kRepetitions)->UseRealTime();
BENCHMARK(BM_BareThroughput)->Iterations(200)->Repetitions(kRepetitions)->UseRealTime();
BENCHMARK(BM_BareMessageThroughput)->Iterations(200)->Repetitions(kRepetitions)->UseRealTime();
BENCHMARK(BM_LooperLatency)->Iterations(kLatencySamples)->Repetitions(kRepetitions)->UseRealTime();
BENCHMARK(BM_BareLatency)->Iterations(kLatencySamples)->Repetitions(kRepetitions)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    using orvix::bench::Fixed;
    using orvix::bench::PrintRow;
    orvix::bench::Collector collector;
    orvix::bench::RunInterleaved(argc, argv, &collector);

    const double bare = collector.median("BM_BareThroughput", "per_s");
    orvix::bench::PrintRatioRow(
        "looper: messages posted from another thread and handled, per second",
        collector.median("BM_LooperThroughput", "per_s"), bare, 0, 0.8, false);
    const double carrying = collector.median("BM_BareMessageThroughput", "per_s");
    std::printf("detail|looper|bare hand-off carrying a new AMessage each, per second|%s|%s\n",
                Fixed(carrying, 0).c_str(), Fixed(bare > 0 ? carrying / bare : 0, 2).c_str());
    for (const char* which : {"p50", "p99"}) {
        const std::string counter = std::string(which) + "_us";
        orvix::bench::PrintRatioRow(
            std::string("looper: post-to-handle latency ") + which + " (us)",
            collector.median("BM_LooperLatency", counter),
            collector.median("BM_BareLatency", counter), 1, 1.25, true);
    }
    // How far the tail moves between repetitions of the same code says how much of a p99
    // ratio is the machine.
    for (const char* bench : {"BM_LooperLatency", "BM_BareLatency"}) {
        const std::vector<double> tails = collector.samples(bench, "p99_us");
        if (tails.empty()) continue;
        const auto [low, high] = std::minmax_element(tails.begin(), tails.end());
        std::printf("detail|looper|p99 range over repetitions, %s|%s|%s\n",
                    std::string(bench) == "BM_LooperLatency" ? "looper" : "floor",
                    Fixed(*low, 1).c_str(), Fixed(*high, 1).c_str());
    }
    return 0;
}
