#include "qrn_base.h"

#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <string>

namespace {
struct Entry {
    void *element;
    int size;
    int tag;
};
}  // namespace

struct quarn_queue {
    std::string name;
    std::mutex mutex;
    std::deque<Entry> entries;
    size_t max_elements;
};

quarn_queue *quarn_queue_create(const quarn_queue_config *config)
{
    if (!config || config->max_elements <= 0)
        return nullptr;
    auto *queue = new (std::nothrow) quarn_queue;
    if (!queue)
        return nullptr;
    queue->name = config->name ? config->name : "";
    queue->max_elements = static_cast<size_t>(config->max_elements);
    return queue;
}

int quarn_queue_putElem(quarn_queue *queue, void *element, int size, int tag)
{
    if (!queue)
        return -1;
    std::lock_guard<std::mutex> lock(queue->mutex);
    int dropped = 0;
    while (queue->entries.size() >= queue->max_elements) {
        std::free(queue->entries.front().element);
        queue->entries.pop_front();
        dropped = 1;
    }
    queue->entries.push_back({element, size, tag});
    return dropped;
}

int quarn_queue_getElem(quarn_queue *queue, void **element_out, int *size_out, int *tag_out)
{
    if (!queue)
        return -1;
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->entries.empty())
        return -1;
    const Entry entry = queue->entries.front();
    queue->entries.pop_front();
    if (element_out)
        *element_out = entry.element;
    else
        std::free(entry.element);
    if (size_out)
        *size_out = entry.size;
    if (tag_out)
        *tag_out = entry.tag;
    return 0;
}

int quarn_queue_getElemCount(quarn_queue *queue)
{
    if (!queue)
        return 0;
    std::lock_guard<std::mutex> lock(queue->mutex);
    return static_cast<int>(queue->entries.size());
}

void quarn_queue_clean(quarn_queue *queue)
{
    if (!queue)
        return;
    std::lock_guard<std::mutex> lock(queue->mutex);
    for (const Entry &entry : queue->entries)
        std::free(entry.element);
    queue->entries.clear();
}

int quarn_queue_getMaxElements(quarn_queue *queue)
{
    if (!queue)
        return 0;
    std::lock_guard<std::mutex> lock(queue->mutex);
    return static_cast<int>(queue->max_elements);
}

int quarn_queue_setElemNumber(quarn_queue *queue, int max_elements)
{
    if (!queue || max_elements <= 0)
        return -1;
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->max_elements = static_cast<size_t>(max_elements);
    while (queue->entries.size() > queue->max_elements) {
        std::free(queue->entries.front().element);
        queue->entries.pop_front();
    }
    return 0;
}

void quarn_queue_destroy(quarn_queue *queue)
{
    quarn_queue_clean(queue);
    delete queue;
}
