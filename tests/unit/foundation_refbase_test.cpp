#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/android/RefBase.h"

namespace {

using android::RefBase;
using android::sp;
using android::wp;

struct Counters {
    std::atomic<int> firstRefs{0};
    std::atomic<int> lastStrongRefs{0};
    std::atomic<int> destroyed{0};
};

class Tracked : public RefBase {
public:
    explicit Tracked(Counters* counters) : mCounters(counters) {}
    // Public so that a test can play the owner of an object that is never strongly held.
    ~Tracked() override { mCounters->destroyed++; }

protected:
    void onFirstRef() override { mCounters->firstRefs++; }
    void onLastStrongRef(const void*) override { mCounters->lastStrongRefs++; }

private:
    Counters* mCounters;
};

class Derived : public Tracked {
public:
    using Tracked::Tracked;
};

TEST(FoundationRefBase, LastStrongReferenceDestroysAndWeakOnesThenFailToPromote) {
    Counters counters;
    sp<Tracked> first = new Tracked(&counters);
    EXPECT_EQ(1, counters.firstRefs);
    EXPECT_EQ(1, first->getStrongCount());

    sp<Tracked> second = first;
    wp<Tracked> weak = first;
    EXPECT_EQ(2, first->getStrongCount());
    EXPECT_EQ(3, first->getWeakRefs()->getWeakCount());

    {
        sp<Tracked> promoted = weak.promote();
        ASSERT_NE(nullptr, promoted);
        EXPECT_EQ(first.get(), promoted.get());
        EXPECT_EQ(3, first->getStrongCount());
    }
    first.clear();
    EXPECT_EQ(0, counters.destroyed);
    EXPECT_NE(nullptr, weak.promote());

    wp<Tracked> copyOfWeak = weak;
    second = nullptr;
    EXPECT_EQ(1, counters.destroyed);
    EXPECT_EQ(1, counters.lastStrongRefs);
    EXPECT_EQ(1, counters.firstRefs);
    EXPECT_EQ(nullptr, weak.promote());
    EXPECT_EQ(nullptr, copyOfWeak.promote());
    weak.clear();
    EXPECT_EQ(nullptr, copyOfWeak.promote());
}

TEST(FoundationRefBase, ConversionsAndAssignmentsKeepCountsRight) {
    Counters counters;
    {
        sp<Derived> derived = new Derived(&counters);
        sp<Tracked> base = derived;
        EXPECT_EQ(2, derived->getStrongCount());
        sp<Tracked> other;
        other = derived;
        other = other;  // self-assignment must neither free nor leak
        sp<Tracked> moved = std::move(other);
        EXPECT_EQ(nullptr, other);
        EXPECT_EQ(3, derived->getStrongCount());
        wp<Tracked> weak;
        weak = base;
        weak = base.get();
        EXPECT_EQ(base.get(), weak.unsafe_get());
    }
    EXPECT_EQ(1, counters.destroyed);
}

TEST(FoundationRefBase, ObjectNeverStronglyHeldIsLeftToItsOwner) {
    Counters counters;
    Tracked* object = new Tracked(&counters);
    wp<Tracked> weak(object);
    {
        wp<Tracked> another = weak;
        another.clear();
    }
    wp<Tracked> last = weak;
    weak.clear();
    last.clear();
    EXPECT_EQ(0, counters.destroyed);
    EXPECT_EQ(0, counters.firstRefs);

    wp<Tracked> survivor(object);
    delete object;
    EXPECT_EQ(1, counters.destroyed);
    // The counts block outlives the object, so asking is safe and the answer is "gone".
    EXPECT_EQ(nullptr, survivor.promote());
}

TEST(FoundationRefBase, ConcurrentCopiesAndPromotionsDestroyExactlyOnce) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    for (int attempt = 0; attempt < 20; ++attempt) {
        Counters counters;
        sp<Tracked> owner = new Tracked(&counters);
        wp<Tracked> weak = owner;
        std::atomic<bool> go{false};
        std::atomic<int> promotedAfterDeath{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            sp<Tracked> held = (t % 2 == 0) ? owner : sp<Tracked>();
            threads.emplace_back([&, held]() mutable {
                sp<Tracked> mine = std::move(held);
                while (!go) {
                }
                for (int i = 0; i < kRounds / (attempt + 1); ++i) {
                    sp<Tracked> copy = mine;
                    sp<Tracked> promoted = weak.promote();
                    if (promoted != nullptr) {
                        // A promoted reference keeps the object alive while it is held.
                        if (counters.destroyed != 0) promotedAfterDeath++;
                        EXPECT_GE(promoted->getStrongCount(), 1);
                    }
                    if (i == attempt * 50) mine.clear();
                }
            });
        }
        go = true;
        owner.clear();
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(1, counters.destroyed);
        EXPECT_EQ(1, counters.firstRefs);
        EXPECT_EQ(0, promotedAfterDeath);
        EXPECT_EQ(nullptr, weak.promote());
    }
}

// An object that hands itself to someone by strong reference while it is being destroyed
// (unregistering from a service, say) must still be destroyed exactly once.
class SelfReferencingOnDestruction : public RefBase {
public:
    SelfReferencingOnDestruction(Counters* counters, wp<SelfReferencingOnDestruction>* weak)
        : mCounters(counters), mWeak(weak) {}
    ~SelfReferencingOnDestruction() override {
        sp<SelfReferencingOnDestruction> self(this);
        mPromotedDuringDestruction = mWeak->promote() != nullptr;
        mCounters->destroyed++;
        sPromotedDuringDestruction = mPromotedDuringDestruction;
    }
    static bool sPromotedDuringDestruction;

private:
    Counters* mCounters;
    wp<SelfReferencingOnDestruction>* mWeak;
    bool mPromotedDuringDestruction = false;
};
bool SelfReferencingOnDestruction::sPromotedDuringDestruction = true;

TEST(FoundationRefBase, StrongReferenceTakenInsideTheDestructorDoesNotDestroyAgain) {
    Counters counters;
    wp<SelfReferencingOnDestruction> weak;
    {
        sp<SelfReferencingOnDestruction> object =
            new SelfReferencingOnDestruction(&counters, &weak);
        weak = object;
    }
    EXPECT_EQ(counters.destroyed, 1);
    EXPECT_FALSE(SelfReferencingOnDestruction::sPromotedDuringDestruction);
    EXPECT_EQ(weak.promote(), nullptr);
}

}  // namespace
