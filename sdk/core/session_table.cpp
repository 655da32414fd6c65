#include "session_table.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include "PPPP_API.h"
#include "frame_assembly.h"
#include "p2p_init_strings.h"

namespace {

struct Slot {
    // Set by the transport switch, with the id of the session it replaced,
    // so that a caller who waited on that session learns of the swap.
    int switched = 0;
    uint32_t switched_from_id = 0;
    int in_use = 0;
    SessionContext *context = nullptr;
    uint32_t ending_id = 0;  // the context id a teardown was started for
};

// The one piece of process-wide state: created by the first connect and
// never torn down, so contexts outlive every handle a caller may still hold.
struct SessionTable {
    std::mutex lock;
    std::condition_variable slot_released;  // with lock
    int open_sessions = 0;
    int last_released = -1;
    int p2p_initialised = 0;
    uint32_t next_context_id = 1;
    std::atomic<bool> transport_switch{true};
    Slot slots[kSlotCount];
};

SessionTable &table()
{
    // Deliberately never destroyed: a detached teardown thread may still use
    // it while the process exits.
    static SessionTable *instance = new SessionTable;
    return *instance;
}

void destroy_queues(SessionQueues *queues)
{
    for (quarn_queue *queue : {queues->video, queues->picture, queues->audio, queues->serial, queues->paramchange})
        quarn_queue_destroy(queue);
}

SessionContext *create_context()
{
    auto *context = new (std::nothrow) SessionContext;
    if (!context)
        return nullptr;
    const quarn_queue_config configs[] = {
        {"video", 100}, {"picture", 10}, {"audio", 100}, {"serial", 10240}, {"paramchange", 10240}};
    SessionQueues &q = context->queues;
    quarn_queue **targets[] = {&q.video, &q.picture, &q.audio, &q.serial, &q.paramchange};
    bool ok = true;
    for (int i = 0; i < 5; ++i)
        ok = ok && (*targets[i] = quarn_queue_create(&configs[i])) != nullptr;
    context->command_lock = quarn_mutex_create(1);
    context->video_lock = quarn_mutex_create(1);
    context->gpio_lock = quarn_mutex_create(1);
    context->data_ready = quarn_cond_create();
    if (!ok || !context->command_lock || !context->video_lock || !context->gpio_lock || !context->data_ready) {
        destroy_queues(&q);
        quarn_mutex_destory(context->command_lock);
        quarn_mutex_destory(context->video_lock);
        quarn_mutex_destory(context->gpio_lock);
        quarn_cond_destroy(context->data_ready);
        delete context;
        return nullptr;
    }
    return context;
}

void reset_stream_assembly(StreamAssembly &a)
{
    reset_frame(a.video);
    reset_frame(a.picture);
    a.audio_fill = a.serial_fill = 0;
    a.param_change_length = 0;
    a.last_response_length = 0;
}

// Brings a reused context back to the state of a fresh one; the queues and
// locks stay as they are.
void reset_context(SessionContext *context)
{
    context->protocol_version = 0;
    context->protocol_version_decimal = 0;
    context->token = 0;
    context->connected = 0;
    context->trans_mode = 0;
    std::memset(context->address, 0, sizeof context->address);
    std::memset(context->encrypt, 0, sizeof context->encrypt);
    std::memset(context->user, 0, sizeof context->user);
    context->command_timeout = {8, 0};
    context->stream_timeout = {4, 0};
    context->peer_max_frame = 0;
    context->device_info = DeviceInformation();
    reset_stream_assembly(context->stream);
    context->spare_elements.clear();
    context->video.running = 0;
    context->video.reset_requested = 0;
    context->video.reset_figures();  // the local maximum stays: the video queue keeps its capacity
    {
        std::lock_guard<std::mutex> guard(context->cache_mutex);
        context->video_cache = VideoCache();
        context->h264_cache = H264Cache();
        context->audio.params_valid = 0;
        context->serial.params_valid = 0;
    }
    std::memset(context->audio_params, 0, sizeof context->audio_params);
    std::memset(context->serial_params, 0, sizeof context->serial_params);
    std::memset(context->gpio_block, 0, sizeof context->gpio_block);
    context->gpio_valid = 0;
    context->serial_received_bytes = 0;
    context->serial_cache_size = 0;
    context->audio.running = 0;
    context->serial.open = 0;
    context->serial.sent_bytes = 0;
    context->teardown_started = 0;
    context->p2p_session = -1;
    std::memset(context->p2p_init_string, 0, sizeof context->p2p_init_string);
    context->p2p_reader.clear();
    context->stream.header_held = 0;
    context->handover_mark = 0;
    context->stream_lost = 0;
    // Nothing the last session left behind reaches the new one: not its
    // frames and blocks, which may come from another device, nor a wake-up
    // that would end the new session's first poll.
    for (quarn_queue *queue : {context->queues.video, context->queues.picture, context->queues.audio,
                               context->queues.serial, context->queues.paramchange})
        quarn_queue_clean(queue);
    quarn_cond_wait(context->data_ready, 0, 0);
    context->data_channel_up = 0;
    context->listen_socket = -1;
    context->data_socket = -1;
}

int find_free_slot(const SessionTable &t)
{
    const int hint = t.last_released;
    for (int i = hint + 1; i < kSlotCount; ++i)
        if (!t.slots[i].in_use)
            return i;
    for (int i = 0; i <= (hint < 0 ? kSlotCount - 1 : hint); ++i)
        if (!t.slots[i].in_use)
            return i;
    return -1;
}

}  // namespace

int session_slot_take(int address_kind)
{
    SessionTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (address_kind == kAddressKindDeviceId && !t.p2p_initialised)
        t.p2p_initialised = PPPP_Initialize(load_p2p_init_strings()[0].c_str()) >= 0;
    if (t.last_released < 0 || t.last_released >= kSlotCount)
        t.last_released = -1;
    const int index = find_free_slot(t);
    if (index < 0)
        return -16;
    Slot &slot = t.slots[index];
    if (!slot.context) {
        slot.context = create_context();
        if (!slot.context)
            return -7;
    } else {
        reset_context(slot.context);
    }
    slot.in_use = 1;
    slot.switched = 0;
    slot.context->id = t.next_context_id++;
    ++t.open_sessions;
    return index;
}

void session_slot_release(int index)
{
    if (index < 0 || index >= kSlotCount)
        return;
    SessionTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (!t.slots[index].in_use)
        return;
    --t.open_sessions;
    t.slots[index].in_use = 0;
    t.slots[index].switched = 0;
    t.last_released = index;
    if (t.open_sessions == 0 && t.p2p_initialised) {
        PPPP_DeInitialize();
        t.p2p_initialised = 0;
    }
    t.slot_released.notify_all();
}

int session_begin_ending(int handle, uint32_t *id)
{
    const uint32_t index = static_cast<uint32_t>(handle) - static_cast<uint32_t>(kHandleBase);
    if (index >= kSlotCount)
        return -1;
    SessionTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    Slot &slot = t.slots[index];
    if (!slot.in_use || !slot.context)
        return -1;
    *id = slot.context->id;
    slot.ending_id = *id;
    return 0;
}

int session_wait_ended(int handle, unsigned timeout_ms)
{
    const uint32_t index = static_cast<uint32_t>(handle) - static_cast<uint32_t>(kHandleBase);
    if (index >= kSlotCount)
        return -7;
    SessionTable &t = table();
    std::unique_lock<std::mutex> guard(t.lock);
    const Slot &slot = t.slots[index];
    // Ended once the slot is free or holds a session other than the one
    // being torn down: a newer connect may already have taken it.
    const auto ended = [&slot] {
        return !slot.in_use || !slot.context || slot.ending_id == 0 || slot.context->id != slot.ending_id;
    };
    return t.slot_released.wait_for(guard, std::chrono::milliseconds(timeout_ms), ended) ? 0 : -2;
}

int session_validate(int handle, uint32_t *id)
{
    const uint32_t index = static_cast<uint32_t>(handle) - static_cast<uint32_t>(kHandleBase);
    if (index >= kSlotCount)
        return -1;
    SessionTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const Slot &slot = t.slots[index];
    if (!slot.in_use || !slot.context)
        return -1;
    if (id) {
        if (*id == 0)
            *id = slot.context->id;
        else if (*id != slot.context->id)
            return slot.switched && *id == slot.switched_from_id ? 1 : -1;
    }
    return 0;
}

bool session_slots_swap(int replaced_slot, const SessionContext *replaced, uint32_t replaced_id, int replacement_slot,
                        bool (*alive)(const SessionContext *))
{
    SessionTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    Slot &from = t.slots[replaced_slot];
    Slot &to = t.slots[replacement_slot];
    if (from.context != replaced || replaced->id != replaced_id || !from.in_use || !to.in_use ||
        from.ending_id == replaced_id || !alive(replaced))
        return false;
    std::swap(from.context, to.context);
    from.switched = 1;
    from.switched_from_id = replaced->id;
    return true;
}

bool p2p_library_initialised()
{
    SessionTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    return t.p2p_initialised != 0;
}

SessionContext *session_lookup(int handle)
{
    const uint32_t index = static_cast<uint32_t>(handle) - static_cast<uint32_t>(kHandleBase);
    if (index >= kSlotCount)
        return nullptr;
    SessionTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const Slot &slot = t.slots[index];
    if (!slot.in_use || !slot.context)
        return nullptr;
    return slot.context;
}

bool context_in_use(const SessionContext *context)
{
    SessionTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (const Slot &slot : t.slots)
        if (slot.context == context)
            return slot.in_use != 0;
    return false;
}

void set_transport_switch(bool enabled)
{
    table().transport_switch = enabled;
}
bool transport_switch_enabled()
{
    return table().transport_switch;
}
