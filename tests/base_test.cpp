// The portability layer's promises that the SDK relies on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qrn_base.h"

namespace {

int *tagged_element(int value)
{
    int *element = static_cast<int *>(std::malloc(sizeof(int)));
    *element = value;
    return element;
}

TEST(Queue, FullQueueDropsOldestAndKeepsOrder)
{
    const quarn_queue_config config{"video", 3};
    quarn_queue *queue = quarn_queue_create(&config);
    ASSERT_NE(queue, nullptr);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(quarn_queue_putElem(queue, tagged_element(i), sizeof(int), 100 + i), i < 3 ? 0 : 1);
    EXPECT_EQ(quarn_queue_getElemCount(queue), 3);
    EXPECT_EQ(quarn_queue_getMaxElements(queue), 3);
    for (int expected = 2; expected < 5; ++expected) {
        void *element = nullptr;
        int size = 0, tag = 0;
        ASSERT_EQ(quarn_queue_getElem(queue, &element, &size, &tag), 0);
        EXPECT_EQ(*static_cast<int *>(element), expected);
        EXPECT_EQ(tag, 100 + expected);
        std::free(element);
    }
    EXPECT_LT(quarn_queue_getElem(queue, nullptr, nullptr, nullptr), 0);
    quarn_queue_putElem(queue, nullptr, 0, 7);  // tag-only elements are allowed
    int tag = 0;
    EXPECT_EQ(quarn_queue_getElem(queue, nullptr, nullptr, &tag), 0);
    EXPECT_EQ(tag, 7);
    quarn_queue_destroy(queue);
}

TEST(Cond, PostBeforeWaitIsNotLost)
{
    quarn_cond *cond = quarn_cond_create();
    EXPECT_EQ(quarn_cond_wait(cond, 0, 10), -2);
    quarn_cond_post(cond);
    EXPECT_EQ(quarn_cond_wait(cond, 1, 0), 0);
    EXPECT_EQ(quarn_cond_wait(cond, 0, 10), -2) << "one wake-up consumes the posts";
    quarn_cond_destroy(cond);
}

TEST(Tcp, ReceiveTimesOutAndCountsTheRecordDown)
{
    int port = 40000;
    int listener = -1;
    while (listener < 0 && port < 40100)
        listener = quarn_tcp_listenbysockfd(quarn_tcp_bindprot(++port));
    ASSERT_GE(listener, 0);
    const int client = quarn_tcp_connect("127.0.0.1", port, 1);
    ASSERT_GE(client, 0);
    char peer[16];
    const int server = quarn_tcp_accept_timeout(listener, peer, 1000);
    ASSERT_GE(server, 0);
    EXPECT_STREQ(peer, "127.0.0.1");

    quarn_timeval timeout{0, 200000};
    char buffer[8];
    EXPECT_EQ(quarn_tcp_recv_timeout(server, buffer, sizeof buffer, &timeout), QUARN_TIMEOUT);
    EXPECT_EQ(timeout.seconds, 0);
    EXPECT_LT(timeout.microseconds, 50000) << "the wait used the record up";

    ASSERT_EQ(quarn_tcp_send(client, "abcdefgh", 8), 8);
    timeout = {1, 0};
    EXPECT_EQ(quarn_tcp_recv_timeout(server, buffer, 8, &timeout), 8);
    EXPECT_EQ(std::memcmp(buffer, "abcdefgh", 8), 0);

    quarn_socket_close(client);
    timeout = {1, 0};
    EXPECT_EQ(quarn_tcp_recv_timeout(server, buffer, 8, &timeout), 0) << "peer closed";
    quarn_socket_close(server);
    quarn_socket_close(listener);
}

// The stream reader's receive: what the caller asked for first, then what
// follows into the spill, in one call; a zero wait never blocks.
TEST(Tcp, SplitReceiveFillsTheBufferThenTheSpill)
{
    int port = 40100;
    int listener = -1;
    while (listener < 0 && port < 40200)
        listener = quarn_tcp_listenbysockfd(quarn_tcp_bindprot(++port));
    ASSERT_GE(listener, 0);
    const int client = quarn_tcp_connect("127.0.0.1", port, 1);
    ASSERT_GE(client, 0);
    const int server = quarn_tcp_accept_timeout(listener, nullptr, 1000);
    ASSERT_GE(server, 0);

    char buffer[8] = {};
    char spill[64] = {};
    EXPECT_EQ(quarn_tcp_recv_split(server, buffer, 8, spill, sizeof spill, 0), QUARN_TIMEOUT)
        << "nothing waiting and no time to wait";
    ASSERT_EQ(quarn_tcp_send(client, "0123456789abcdefghij", 20), 20);
    // One small send is one segment on loopback: it arrives whole.
    EXPECT_EQ(quarn_tcp_recv_split(server, buffer, 8, spill, sizeof spill, 1000), 20);
    EXPECT_EQ(std::memcmp(buffer, "01234567", 8), 0);
    EXPECT_EQ(std::memcmp(spill, "89abcdefghij", 12), 0);

    quarn_socket_close(client);
    EXPECT_EQ(quarn_tcp_recv_split(server, buffer, 8, spill, sizeof spill, 1000), 0) << "peer closed";
    quarn_socket_close(server);
    quarn_socket_close(listener);
}

TEST(Heap, BlockHoldsAtLeastWhatWasAsked)
{
    for (size_t size : {size_t{1}, size_t{100}, size_t{4096}, size_t{70000}, size_t{3} << 20}) {
        void *block = std::malloc(size);
        ASSERT_NE(block, nullptr);
        EXPECT_GE(quarn_heap_block_size(block), size);
        std::free(block);
    }
    EXPECT_EQ(quarn_heap_block_size(nullptr), 0u);
}

TEST(Udp, BroadcastListComesFromTheEnvironment)
{
    const char *saved = std::getenv("QRN_BCAST_ADDRS");
    const std::string restore = saved ? saved : "";
    setenv("QRN_BCAST_ADDRS", "127.0.0.1, 127.9.9.9,,", 1);
    char addresses[8][20];
    ASSERT_EQ(quarn_net_getbcastip(addresses, 8), 2);
    EXPECT_STREQ(addresses[0], "127.0.0.1");
    EXPECT_STREQ(addresses[1], "127.9.9.9");
    EXPECT_EQ(quarn_net_getbcastip(addresses, 1), 1) << "never more than the caller's array";

    // The limited broadcast goes to the listed addresses instead.
    const int sender = quarn_udp_create(0, 1);
    ASSERT_GE(sender, 0);
    const int listener = quarn_udp_create(47123, 0);
    ASSERT_GE(listener, 0);
    EXPECT_EQ(quarn_udp_send_byips(sender, "hi", 2, QUARN_LIMITED_BROADCAST, 47123), 2);
    char buffer[16];
    char from[16];
    EXPECT_EQ(quarn_udp_recv(listener, buffer, sizeof buffer, from, 1000), 2);
    EXPECT_EQ(quarn_udp_recv(listener, buffer, sizeof buffer, from, 1000), 2);
    quarn_socket_close(listener);
    quarn_socket_close(sender);
    if (saved)
        setenv("QRN_BCAST_ADDRS", restore.c_str(), 1);
    else
        unsetenv("QRN_BCAST_ADDRS");
}

}  // namespace
