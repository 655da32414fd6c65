#include "libav_library.h"

#include <dlfcn.h>
#include <string>

namespace probesim {

namespace {

// Symbols of libavutil are found through libavcodec, which depends on it.
const LibAv *load()
{
    const std::string name = "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR);
    void *handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    static LibAv av;
    bool complete = true;
#define PROBESIM_LIBAV_LOAD(fn)                                                                                        \
  av.fn = reinterpret_cast<decltype(&::fn)>(dlsym(handle, #fn));                                                       \
  complete = complete && av.fn != nullptr;
    PROBESIM_LIBAV_FUNCTIONS(PROBESIM_LIBAV_LOAD)
#undef PROBESIM_LIBAV_LOAD
    if (!complete)
        return nullptr;
    // The encoder prints its banner and statistics otherwise.
    av.av_log_set_level(AV_LOG_ERROR);
    return &av;
}

}  // namespace

const LibAv *libav()
{
    static const LibAv *const loaded = load();
    return loaded;
}

}  // namespace probesim
