// Huffman completion of Motion-JPEG frames and the resolution code.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "jpeg_completion.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode_test_image(int width, int height)
{
    jpeg_compress_struct compress{};
    jpeg_error_mgr errors{};
    compress.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compress);
    unsigned char *out = nullptr;
    unsigned long out_size = 0;
    jpeg_mem_dest(&compress, &out, &out_size);
    compress.image_width = width;
    compress.image_height = height;
    compress.input_components = 3;
    compress.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compress);  // the standard tables, not optimised ones
    jpeg_set_quality(&compress, 85, TRUE);
    jpeg_start_compress(&compress, TRUE);
    Bytes row(static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            row[x * 3] = static_cast<uint8_t>(x * 4);
            row[x * 3 + 1] = static_cast<uint8_t>(y * 5);
            row[x * 3 + 2] = static_cast<uint8_t>((x * y) & 0xFF);
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&compress, &pointer, 1);
    }
    jpeg_finish_compress(&compress);
    Bytes result(out, out + out_size);
    std::free(out);
    jpeg_destroy_compress(&compress);
    return result;
}

Bytes decode(const uint8_t *data, size_t size)
{
    jpeg_decompress_struct decompress{};
    jpeg_error_mgr errors{};
    decompress.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&decompress);
    jpeg_mem_src(&decompress, data, size);
    jpeg_read_header(&decompress, TRUE);
    jpeg_start_decompress(&decompress);
    Bytes pixels(static_cast<size_t>(decompress.output_width) * decompress.output_height * 3);
    while (decompress.output_scanline < decompress.output_height) {
        JSAMPROW pointer =
            pixels.data() + static_cast<size_t>(decompress.output_scanline) * decompress.output_width * 3;
        jpeg_read_scanlines(&decompress, &pointer, 1);
    }
    jpeg_finish_decompress(&decompress);
    jpeg_destroy_decompress(&decompress);
    return pixels;
}

// Splits a JPEG into its data without DHT segments and the DHT segments.
void strip_huffman(const Bytes &jpeg, Bytes *stripped, Bytes *tables)
{
    size_t p = 2;
    stripped->assign(jpeg.begin(), jpeg.begin() + 2);
    while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF && jpeg[p + 1] != 0xDA) {
        const size_t length = 2 + (jpeg[p + 2] << 8 | jpeg[p + 3]);
        Bytes *target = jpeg[p + 1] == 0xC4 ? tables : stripped;
        target->insert(target->end(), jpeg.begin() + p, jpeg.begin() + p + length);
        p += length;
    }
    stripped->insert(stripped->end(), jpeg.begin() + p, jpeg.end());
}

Bytes assembly_buffer(uint32_t format, const Bytes &data)
{
    Bytes buffer(28, 0);
    buffer[4] = static_cast<uint8_t>(format);
    const uint32_t length = static_cast<uint32_t>(data.size());
    std::memcpy(&buffer[24], &length, 4);
    buffer.insert(buffer.end(), data.begin(), data.end());
    return buffer;
}

struct ElementFree {
    void operator()(FrameElement *element) const { std::free(element); }
};
using Element = std::unique_ptr<FrameElement, ElementFree>;

Element complete(const Bytes &buffer, uint32_t length)
{
    return Element(build_frame_element(buffer.data(), length));
}

class Completion : public ::testing::Test {
protected:
    void SetUp() override { QRN_Video_JpegFrameHuffmanCheck(1); }
    void TearDown() override { QRN_Video_JpegFrameHuffmanCheck(0); }
};

TEST_F(Completion, StandardBlockMatchesAnEncodersOwnTables)
{
    Bytes stripped, tables;
    strip_huffman(encode_test_image(32, 16), &stripped, &tables);
    ASSERT_EQ(tables.size(), static_cast<size_t>(kHuffmanBlockSize));
    EXPECT_EQ(Bytes(standard_huffman_block(), standard_huffman_block() + kHuffmanBlockSize), tables);
}

TEST_F(Completion, FrameWithoutTablesDecodesToTheOriginalPixels)
{
    const Bytes original = encode_test_image(64, 48);
    Bytes stripped, tables;
    strip_huffman(original, &stripped, &tables);
    const Bytes buffer = assembly_buffer(2, stripped);
    Element element = complete(buffer, static_cast<uint32_t>(buffer.size()));
    ASSERT_TRUE(element);
    EXPECT_EQ(element->header.length, stripped.size() + kHuffmanBlockSize);
    EXPECT_EQ(element->window_frames, 0u);
    EXPECT_EQ(decode(element->data, element->header.length), decode(original.data(), original.size()));
}

Bytes filler(size_t size)
{
    return Bytes(size, 0x11);
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct PlacementCase {
    const char *name;
    uint32_t format;
    Bytes data;
    long inserted_at;  // -1: unchanged
};

TEST_F(Completion, TablesGoBeforeTheFirstStartOfFrame)
{
    const Bytes sos{0xFF, 0xDA}, sof{0xFF, 0xC0}, dht{0xFF, 0xC4};
    const PlacementCase cases[] = {
        {"scan first, SOF later", 2, concat({sos, filler(10), sof, filler(5)}), 12},
        {"scan first, no SOF", 2, concat({sos, filler(10)}), 12},
        {"no markers at all", 2, filler(40), 40},
        {"DHT early", 2, concat({filler(100), dht, filler(10), sof}), -1},
        {"DHT at the last searched position", 2, concat({filler(2048), dht, sof}), -1},
        {"DHT past the search", 2, concat({filler(2049), dht, sof}), 2051},
        {"scan before DHT", 2, concat({filler(5), sos, dht, sof}), 9},
        {"raw frame", 1, concat({sos, sof}), -1},
        {"H.264 frame", 3, concat({sos, sof}), -1},
    };
    for (const PlacementCase &c : cases) {
        const Bytes buffer = assembly_buffer(c.format, c.data);
        Element element = complete(buffer, static_cast<uint32_t>(buffer.size()));
        ASSERT_TRUE(element) << c.name;
        const uint8_t *out = element->data;
        if (c.inserted_at < 0) {
            EXPECT_EQ(element->header.length, c.data.size()) << c.name;
            EXPECT_EQ(std::memcmp(out, c.data.data(), c.data.size()), 0) << c.name;
            continue;
        }
        const size_t q = static_cast<size_t>(c.inserted_at);
        ASSERT_EQ(element->header.length, c.data.size() + kHuffmanBlockSize) << c.name;
        EXPECT_EQ(std::memcmp(out, c.data.data(), q), 0) << c.name;
        EXPECT_EQ(std::memcmp(out + q, standard_huffman_block(), kHuffmanBlockSize), 0) << c.name;
        EXPECT_EQ(std::memcmp(out + q + kHuffmanBlockSize, c.data.data() + q, c.data.size() - q), 0) << c.name;
    }
}

TEST_F(Completion, SwitchOffOrBadLengthLeavesFramesAlone)
{
    const Bytes data{0xFF, 0xDA, 1, 2, 3};
    const Bytes buffer = assembly_buffer(2, data);
    EXPECT_FALSE(complete(buffer, static_cast<uint32_t>(buffer.size()) - 1)) << "length disagrees with header";
    EXPECT_FALSE(complete(buffer, 10)) << "shorter than a header";
    EXPECT_EQ(QRN_Video_JpegFrameHuffmanCheck(0), 0);
    Element element = complete(buffer, static_cast<uint32_t>(buffer.size()));
    ASSERT_TRUE(element);
    EXPECT_EQ(element->header.length, data.size());
    EXPECT_EQ(QRN_Video_JpegFrameHuffmanCheck(5), 1);
}

TEST(Resolution, PacksAndUnpacks)
{
    EXPECT_EQ(QRN_Video_GroupResolu(640, 480), 0x028001E0);
    EXPECT_EQ(static_cast<uint32_t>(QRN_Video_GroupResolu(0x1FFFF, 0x10002)), 0xFFFF0002u) << "extra bits drop out";
    struct Case {
        uint32_t code;
        int width, height;
    };
    for (const Case &c : {Case{0x028001E0, 640, 480}, Case{0xFFFF0001, 65535, 1}, Case{0x050003C0, 1280, 960}}) {
        int width = -1, height = -1;
        QRN_Video_AnalysisResolu(static_cast<int>(c.code), &width, &height);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
    }
}

}  // namespace
