// What the public header promises beside the calls: the version and the
// frame accessors.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "qrn_net.h"

namespace {

TEST(PublicHeader, LoadedLibraryReportsTheHeadersVersion)
{
    EXPECT_EQ(QRN_NET_GetLibraryVersion(), QRN_NET_VERSION);
    EXPECT_EQ(QRN_NET_VERSION >> 16, QRN_NET_VERSION_MAJOR);
    EXPECT_EQ(QRN_NET_VERSION >> 8 & 0xFF, QRN_NET_VERSION_MINOR);
    EXPECT_EQ(QRN_NET_VERSION & 0xFF, QRN_NET_VERSION_PATCH);
}

TEST(PublicHeader, FrameAccessorsPointWhereTheLayoutSays)
{
    std::vector<uint8_t> block(64);
    const auto *element = reinterpret_cast<const FrameElement *>(block.data());
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(QRN_FrameElement_Header(element)), block.data() + 8);
    EXPECT_EQ(QRN_FrameElement_Data(element), block.data() + 36);
    EXPECT_EQ(QRN_FrameHeader_Data(QRN_FrameElement_Header(element)), QRN_FrameElement_Data(element))
        << "the data follows the header in both forms";
}

}  // namespace
