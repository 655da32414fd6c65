// Portability layer under the SDK: threads, locks, conditions, queues and
// sockets. Code above this layer never includes OS headers itself.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- threads, mutexes, conditions -----------------------------------------
struct quarn_thread;
struct quarn_mutex;
struct quarn_cond;
typedef void (*quarn_thread_entry)(void *argument);

// Returns NULL when the thread cannot be started. The flag is accepted for
// call-site compatibility; every thread is joinable.
quarn_thread *quarn_thread_create(quarn_thread_entry entry, void *argument, int flag);
// Waits for the thread to end. Returns 0, or -1 for NULL.
int quarn_thread_join(quarn_thread *thread);
// Waits for the thread to end, then releases it, so a caller that told the
// thread to stop knows it no longer runs afterwards. Never call it from the
// thread itself.
void quarn_thread_destroy(quarn_thread *thread);
// Starts a thread that nobody joins; it releases itself when it ends.
// Returns 0, or -1 when it cannot be started.
int quarn_thread_run_detached(quarn_thread_entry entry, void *argument);

quarn_mutex *quarn_mutex_create(int flag);
void quarn_mutex_lock(quarn_mutex *mutex);
void quarn_mutex_unlock(quarn_mutex *mutex);
void quarn_mutex_destory(quarn_mutex *mutex);

// A counting wake-up: a post is never lost, even when nobody waits yet, so a
// waiter that re-checks its state after waking cannot miss a notice.
quarn_cond *quarn_cond_create(void);
void quarn_cond_post(quarn_cond *cond);
// Returns -2 when the time ran out, 0 when woken.
int quarn_cond_wait(quarn_cond *cond, int seconds, int milliseconds);
void quarn_cond_destroy(quarn_cond *cond);

void quarn_sleep_ms(int milliseconds);

// ---- queues ---------------------------------------------------------------
// A bounded FIFO of malloc'd elements. When full, putElem drops (and frees)
// the oldest element: for live video the newest frame matters most, and a
// slow consumer must not stall the receiver.
struct quarn_queue;
struct quarn_queue_config {
    const char *name;
    int max_elements;
};
quarn_queue *quarn_queue_create(const quarn_queue_config *config);
// Stores the pointer itself (no copy). Returns 0, or 1 when the oldest
// element was dropped to make room, -1 on a NULL queue.
int quarn_queue_putElem(quarn_queue *queue, void *element, int size, int tag);
// Removes the oldest element. Returns 0, or -1 when the queue is empty.
int quarn_queue_getElem(quarn_queue *queue, void **element_out, int *size_out, int *tag_out);
int quarn_queue_getElemCount(quarn_queue *queue);
int quarn_queue_getMaxElements(quarn_queue *queue);
// Removes every element and frees it with free().
void quarn_queue_clean(quarn_queue *queue);
int quarn_queue_setElemNumber(quarn_queue *queue, int max_elements);
void quarn_queue_destroy(quarn_queue *queue);

// ---- heap -----------------------------------------------------------------
// How many bytes a block from malloc can hold: at least what was asked for.
size_t quarn_heap_block_size(void *block);

// ---- TCP ------------------------------------------------------------------
struct quarn_timeval {
    int32_t seconds;
    int32_t microseconds;
};

enum {
    QUARN_TIMEOUT = -2,
    QUARN_RETRY = -3,
};

int quarn_tcp_connect(const char *address, int port, int timeout_seconds);
int quarn_tcp_bindprot(int local_port);
// Returns the socket, -2 on time-out, -1 on any other failure.
int quarn_tcp_connectbysockfd(int socket, const char *address, int port, int timeout_ms);
int quarn_tcp_listenbysockfd(int socket);
// peer_address receives the dotted address (at least 16 bytes), may be NULL.
int quarn_tcp_accept(int listening_socket, char *peer_address);
// Waits up to timeout_ms for a pending connection, then accepts it.
// Returns the socket, -2 on time-out, -1 on failure.
int quarn_tcp_accept_timeout(int listening_socket, char *peer_address, int timeout_ms);
// Sends every byte. Returns length, or -1.
int quarn_tcp_send(int socket, const void *data, int length);
// Sends every byte, waiting for room in the socket's buffer no longer than
// timeout_ms in all. Returns length, -2 when the time ran out, -1 on
// failure; *sent_out (may be NULL) receives the bytes that went out.
int quarn_tcp_send_timeout(int socket, const void *data, int length, int timeout_ms, int *sent_out);
// Receives exactly length bytes. Returns length, 0 when the peer closed,
// -1 on error, -2 on time-out, -3 when interrupted. The record is counted
// down by the time spent waiting, so callers restore it.
int quarn_tcp_recv_timeout(int socket, void *buffer, int length, quarn_timeval *timeout);
// Receives what is waiting, up to length bytes, waiting up to timeout_ms
// only when nothing is. Returns the byte count, 0 when the peer closed, -1
// on error, -2 on time-out.
int quarn_tcp_recv_some(int socket, void *buffer, int length, int timeout_ms);
// As quarn_tcp_recv_some, but bytes beyond length go on into spill, so the
// caller gets the data it wants in place and what follows in the same call.
int quarn_tcp_recv_split(int socket, void *buffer, int length, void *spill, int spill_length, int timeout_ms);
int quarn_tcp_setrecvtimeout(int socket, int seconds, int microseconds);
int quarn_tcp_setkeepalive(int socket, int enable, int idle_s, int interval_s, int count);
// Wakes every thread blocked on the socket; the descriptor stays open.
void quarn_socket_shutdown(int socket);
void quarn_socket_close(int socket);

// ---- UDP ------------------------------------------------------------------
#define QUARN_LIMITED_BROADCAST "255.255.255.255"

int quarn_udp_create(int local_port, int broadcast);
// A destination of QUARN_LIMITED_BROADCAST is replaced by QRN_BCAST_ADDRS when set.
// Returns the number of datagrams sent, -1 when none could be sent.
int quarn_udp_send_byips(int socket, const void *data, int length, const char *address, int port);
// Waits up to timeout_ms. Returns the datagram length, -2 when nothing came,
// -3 when a signal cut the wait short, -1 on failure. sender_address (16
// bytes) may be NULL.
int quarn_udp_recv(int socket, void *buffer, int length, char *sender_address, int timeout_ms);

// Writes up to max_count broadcast addresses of the host's interfaces (or
// the QRN_BCAST_ADDRS list when set) and returns how many.
int quarn_net_getbcastip(char (*addresses)[20], int max_count);
