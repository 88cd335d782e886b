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
    std::atomic<int> destroyed{0};
    std::atomic<int> promotedWhileDying{0};
};

// Its destructor is public so that a test can play the owner of an object never strongly held.
struct Tracked : public RefBase {
    explicit Tracked(Counters* c, wp<Tracked>* s = nullptr) : counters(c), self(s) {}
    ~Tracked() override {
        // Handing itself out while dying, as an object unregistering from a service does.
        sp<Tracked> me = self != nullptr ? this : nullptr;
        if (self != nullptr && self->promote() != nullptr) counters->promotedWhileDying++;
        counters->destroyed++;
    }
    void onFirstRef() override { counters->firstRefs++; }
    Counters* counters;
    wp<Tracked>* self;
};

TEST(FoundationRefBase, LastStrongReferenceDestroysOnceAndWeakOnesThenFailToPromote) {
    Counters counters;
    sp<Tracked> first = new Tracked(&counters);
    wp<Tracked> weak = first;
    sp<Tracked> promoted = weak.promote();
    ASSERT_EQ(first.get(), promoted.get());
    EXPECT_EQ(2, first->getStrongCount());
    sp<Tracked> moved = std::move(promoted);
    EXPECT_EQ(nullptr, promoted);
    moved = moved;  // self-assignment must neither free nor leak
    EXPECT_EQ(2, first->getStrongCount());

    first.clear();
    EXPECT_EQ(0, counters.destroyed);
    wp<Tracked> copyOfWeak = weak;
    moved = nullptr;
    EXPECT_EQ(1, counters.destroyed);
    EXPECT_EQ(1, counters.firstRefs);
    EXPECT_EQ(nullptr, weak.promote());
    weak.clear();
    EXPECT_EQ(nullptr, copyOfWeak.promote());
}

TEST(FoundationRefBase, UnheldObjectIsLeftToItsOwnerAndADestructorMayHandItselfOut) {
    Counters counters;
    Tracked* object = new Tracked(&counters);
    wp<Tracked>(object).clear();
    EXPECT_EQ(0, counters.destroyed);
    EXPECT_EQ(0, counters.firstRefs);

    wp<Tracked> survivor(object);
    delete object;
    EXPECT_EQ(nullptr, survivor.promote());

    // A strong reference taken inside the destructor must not delete the object a second time.
    wp<Tracked> weak;
    {
        sp<Tracked> dying = new Tracked(&counters, &weak);
        weak = dying;
    }
    EXPECT_EQ(2, counters.destroyed);
    EXPECT_EQ(0, counters.promotedWhileDying);
    EXPECT_EQ(nullptr, weak.promote());
}

TEST(FoundationRefBase, ConcurrentCopiesAndPromotionsDestroyExactlyOnce) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        Counters counters;
        sp<Tracked> owner = new Tracked(&counters);
        wp<Tracked> weak = owner;
        std::atomic<bool> go{false};
        std::atomic<int> promotedAfterDeath{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, mine = (t % 2 == 0) ? owner : sp<Tracked>()]() mutable {
                while (!go) {
                }
                for (int i = 0; i < 20000 / (attempt + 1); ++i) {
                    sp<Tracked> copy = mine;
                    sp<Tracked> promoted = weak.promote();
                    if (promoted != nullptr && counters.destroyed != 0) promotedAfterDeath++;
                    if (i == attempt * 50) mine.clear();
                }
            });
        }
        go = true;
        owner.clear();
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(1, counters.destroyed);
        EXPECT_EQ(0, promotedAfterDeath);
        EXPECT_EQ(nullptr, weak.promote());
    }
}

}  // namespace
