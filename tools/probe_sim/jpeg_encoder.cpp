#include "jpeg_encoder.h"

#include <algorithm>
#include <cstdint>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace probesim {

namespace {

constexpr int kMcuRows = 16;  // luminance rows per 4:2:0 MCU row

struct ErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void on_error(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorExit *>(info->err)->jump, 1);
}

constexpr uint8_t kNeutralChroma = 128;

// Raw input is read in whole MCUs: 16 luminance and 8 chroma samples per
// row, whatever the picture's width. Rows of other widths are copied into
// rows of that size, their last sample repeated, so libjpeg never reads past
// a plane.
struct PaddedRows {
    unsigned y_width = 0;
    unsigned chroma_width = 0;
    std::vector<uint8_t> y, u, v;

    explicit PaddedRows(const YuvImage &image)
    {
        if (image.width % kMcuRows == 0)
            return;  // the planes themselves will do
        y_width = (image.width + kMcuRows - 1u) / kMcuRows * kMcuRows;
        chroma_width = y_width / 2u;
        y.resize(static_cast<size_t>(y_width) * kMcuRows);
        u.resize(static_cast<size_t>(chroma_width) * (kMcuRows / 2));
        v.resize(u.size());
    }
};

void pad_row(const uint8_t *row, unsigned width, uint8_t *out, unsigned padded_width)
{
    const uint8_t last = width > 0 ? row[width - 1] : kNeutralChroma;
    std::copy(row, row + width, out);
    std::fill(out + width, out + padded_width, last);
}

// libjpeg reports through longjmp, so nothing with a destructor may live
// between setjmp and the end of the compression.
bool compress(const YuvImage &image, int quality, PaddedRows &padded, unsigned char **buffer, unsigned long *size)
{
    jpeg_compress_struct info;
    ErrorExit error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = on_error;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = image.width;
    info.image_height = image.height;
    info.input_components = 3;
    info.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.raw_data_in = TRUE;
    info.dct_method = JDCT_IFAST;
    info.optimize_coding = FALSE;  // keep the standard tables
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);

    JSAMPROW y_rows[kMcuRows];
    JSAMPROW u_rows[kMcuRows / 2];
    JSAMPROW v_rows[kMcuRows / 2];
    JSAMPARRAY planes[3] = {y_rows, u_rows, v_rows};
    const unsigned chroma_width = image.width / 2u;
    const unsigned chroma_height = image.height / 2u;
    while (info.next_scanline < info.image_height) {
        const unsigned top = info.next_scanline;
        // Rows past the bottom repeat the last one; libjpeg wants whole MCU rows.
        for (unsigned r = 0; r < kMcuRows; ++r) {
            const unsigned row = top + r < image.height ? top + r : image.height - 1u;
            const uint8_t *samples = &image.y[static_cast<size_t>(row) * image.width];
            if (padded.y_width) {
                uint8_t *out = &padded.y[static_cast<size_t>(r) * padded.y_width];
                pad_row(samples, image.width, out, padded.y_width);
                samples = out;
            }
            y_rows[r] = const_cast<JSAMPLE *>(samples);
        }
        for (unsigned r = 0; r < kMcuRows / 2; ++r) {
            const unsigned row = top / 2 + r < chroma_height ? top / 2 + r : chroma_height - 1u;
            const size_t start = static_cast<size_t>(row) * chroma_width;
            if (padded.chroma_width) {
                uint8_t *u = &padded.u[static_cast<size_t>(r) * padded.chroma_width];
                uint8_t *v = &padded.v[static_cast<size_t>(r) * padded.chroma_width];
                pad_row(chroma_height ? &image.u[start] : nullptr, chroma_height ? chroma_width : 0, u,
                        padded.chroma_width);
                pad_row(chroma_height ? &image.v[start] : nullptr, chroma_height ? chroma_width : 0, v,
                        padded.chroma_width);
                u_rows[r] = u;
                v_rows[r] = v;
            } else {
                u_rows[r] = const_cast<JSAMPLE *>(&image.u[start]);
                v_rows[r] = const_cast<JSAMPLE *>(&image.v[start]);
            }
        }
        jpeg_write_raw_data(&info, planes, kMcuRows);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

bool encode_jpeg(const YuvImage &image, uint32_t quality, std::vector<uint8_t> &out)
{
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    PaddedRows padded(image);
    const bool ok = compress(image, static_cast<int>(quality), padded, &buffer, &size);
    if (ok)
        out.assign(buffer, buffer + size);
    std::free(buffer);
    return ok;
}

void strip_huffman_tables(std::vector<uint8_t> &jpeg)
{
    constexpr uint8_t kMarker = 0xFF;
    constexpr uint8_t kDht = 0xC4;
    constexpr uint8_t kSos = 0xDA;
    size_t read = 2;  // past SOI
    size_t write = 2;
    while (read + 4 <= jpeg.size() && jpeg[read] == kMarker && jpeg[read + 1] != kSos) {
        const size_t segment = 2 + (static_cast<size_t>(jpeg[read + 2]) << 8 | jpeg[read + 3]);
        if (read + segment > jpeg.size())
            break;
        if (jpeg[read + 1] != kDht) {
            std::copy(jpeg.begin() + read, jpeg.begin() + read + segment, jpeg.begin() + write);
            write += segment;
        }
        read += segment;
    }
    std::copy(jpeg.begin() + read, jpeg.end(), jpeg.begin() + write);
    jpeg.resize(write + (jpeg.size() - read));
}

}  // namespace probesim
