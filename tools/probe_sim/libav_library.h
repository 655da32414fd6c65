// FFmpeg's codec library, loaded on first use instead of linked. A process
// that never touches H.264 then never loads it, nor its long chain of
// dependencies, some of which run instructions at load time that valgrind
// cannot follow.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace probesim {

// clang-format off
#define PROBESIM_LIBAV_FUNCTIONS(X)                                                                      \
    X(avcodec_find_encoder) X(avcodec_find_decoder) X(avcodec_alloc_context3) X(avcodec_free_context) \
    X(avcodec_open2) X(avcodec_send_frame) X(avcodec_receive_packet) X(avcodec_send_packet)           \
    X(avcodec_receive_frame) X(av_packet_alloc) X(av_packet_free) X(av_packet_unref) X(av_frame_alloc) \
    X(av_frame_free) X(av_frame_get_buffer) X(av_frame_make_writable) X(av_opt_set) X(av_opt_set_int) \
    X(av_log_set_level)
// clang-format on

// The functions the simulator and its tests use, typed as the headers declare them.
struct LibAv {
#define PROBESIM_LIBAV_MEMBER(name) decltype(&::name) name = nullptr;
    PROBESIM_LIBAV_FUNCTIONS(PROBESIM_LIBAV_MEMBER)
#undef PROBESIM_LIBAV_MEMBER
};

// The library matching the headers we were built with; null when it or one
// of the functions is missing. Loaded once, never unloaded.
const LibAv *libav();

}  // namespace probesim
