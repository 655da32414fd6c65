// The preview calls of ml_camera.h: a table of background streams by handle.
#include "ml_camera.h"

#include "module_address.h"
#include "preview_stream.h"

#include <map>
#include <memory>
#include <mutex>

namespace {

struct PreviewTable {
    std::mutex mutex;
    std::map<int, std::shared_ptr<mlcam::PreviewStream>> by_handle;
    std::map<std::string, int> handle_by_url;
    int next_handle = 1;
};

PreviewTable &table()
{
    // Never destroyed: previews may still run while the program exits.
    static PreviewTable *instance = new PreviewTable;
    return *instance;
}

// Held outside the table lock, so a slow copy never blocks another handle.
std::shared_ptr<mlcam::PreviewStream> find(int handle)
{
    std::lock_guard<std::mutex> lock(table().mutex);
    const auto it = table().by_handle.find(handle);
    return it == table().by_handle.end() ? nullptr : it->second;
}

}  // namespace

extern "C" {

int ML_StartPreview(const char *address)
{
    const auto base = mlcam::module_base_url(address);
    if (!base)
        return 0;
    const std::string url = *base + "/stream";
    PreviewTable &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto known = t.handle_by_url.find(url);
    if (known != t.handle_by_url.end())
        return known->second;
    auto stream = std::make_shared<mlcam::PreviewStream>(url);
    if (!stream->start())
        return 0;
    const int handle = t.next_handle++;
    t.by_handle[handle] = std::move(stream);
    t.handle_by_url[url] = handle;
    return handle;
}

void ML_StopPreview(int handle)
{
    std::shared_ptr<mlcam::PreviewStream> stream;
    {
        PreviewTable &t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        const auto it = t.by_handle.find(handle);
        if (it == t.by_handle.end())
            return;
        stream = std::move(it->second);
        t.by_handle.erase(it);
        for (auto url = t.handle_by_url.begin(); url != t.handle_by_url.end(); ++url)
            if (url->second == handle) {
                t.handle_by_url.erase(url);
                break;
            }
    }
    stream->stop();
}

int ML_IsDeviceConnected(int handle)
{
    const auto stream = find(handle);
    return stream && stream->connected() ? 1 : 0;
}

int ML_GetVideoFrame(int handle, char *buffer, int *info)
{
    const auto stream = find(handle);
    if (!stream || buffer == nullptr)
        return ML_ERR_ARGUMENT;
    return stream->take_frame(buffer, info);
}

}  // extern "C"
