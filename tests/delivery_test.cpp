// How the receive thread hands elements over: element blocks that come back
// to be filled again, and one wake-up for a burst of deliveries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "pending_wake.h"
#include "qrn_base.h"
#include "spare_elements.h"

namespace {

TEST(SpareElements, GivenBackBlockIsFilledAgainWhenTheFrameFits)
{
    SpareElements spares;
    void *first = spares.take(60000);
    ASSERT_NE(first, nullptr);
    spares.give_back(first);
    EXPECT_EQ(spares.take(58000), first) << "a slightly smaller frame reuses the block";
    const size_t capacity = quarn_heap_block_size(first);
    spares.give_back(first);
    void *larger = spares.take(capacity + 1);
    ASSERT_NE(larger, nullptr);
    EXPECT_GE(quarn_heap_block_size(larger), capacity + 1);
    spares.give_back(larger);
    EXPECT_EQ(spares.take(10), larger) << "the too-small block made way";
    std::free(larger);
}

// Whatever the order of sizes, takes and give-backs, a block is never
// smaller than the frame it is taken for. Writing the whole frame lets
// valgrind or a sanitizer see any overrun.
TEST(SpareElements, TakenBlockAlwaysHoldsTheFrame)
{
    SpareElements spares;
    std::mt19937 random(7);
    std::uniform_int_distribution<size_t> size_of(1, 300000);
    std::vector<void *> held;
    for (int step = 0; step < 2000; ++step) {
        if (held.size() < 100 && (held.empty() || random() % 2)) {
            const size_t size = size_of(random);
            void *block = spares.take(size);
            ASSERT_NE(block, nullptr);
            ASSERT_GE(quarn_heap_block_size(block), size);
            std::memset(block, 0xA5, size);
            held.push_back(block);
        } else {
            const size_t index = random() % held.size();
            spares.give_back(held[index]);
            held[index] = held.back();
            held.pop_back();
        }
    }
    for (void *block : held)
        spares.give_back(block);
    spares.clear();
}

class PendingWakeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const quarn_queue_config config{"video", 4};
        queue = quarn_queue_create(&config);
        cond = quarn_cond_create();
        wake.bind(cond);
    }
    void TearDown() override
    {
        quarn_queue_destroy(queue);
        quarn_cond_destroy(cond);
    }
    void deliver()
    {
        quarn_queue_putElem(queue, nullptr, 0, 0);
        wake.delivered(queue);
    }
    bool posted() { return quarn_cond_wait(cond, 0, 0) == 0; }

    quarn_queue *queue = nullptr;
    quarn_cond *cond = nullptr;
    PendingWake wake;
};

TEST_F(PendingWakeTest, HalfFullQueueWakesThePollerAtOnce)
{
    deliver();
    EXPECT_FALSE(posted()) << "one of four: the burst may go on";
    deliver();
    EXPECT_TRUE(posted()) << "half full";
    wake.post();
    EXPECT_FALSE(posted()) << "nothing new to tell";
}

TEST_F(PendingWakeTest, PostBeforeWaitingTellsOfEveryDelivery)
{
    wake.post();
    EXPECT_FALSE(posted()) << "no delivery, no wake-up";
    deliver();
    wake.post();
    EXPECT_TRUE(posted());
}

}  // namespace
