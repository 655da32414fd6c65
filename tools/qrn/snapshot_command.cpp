// qrn snapshot: one still picture from a module, written as a JPEG file.
#include "commands.h"
#include "failures.h"
#include "interrupt.h"
#include "qrn_net.h"
#include "session.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

namespace qrn {

namespace {

const std::string kUsage = std::string(
                               "usage: qrn snapshot ADDRESS FILE.jpg [--port N] [--access STRING]\n"
                               "\n"
                               "Asks the module at ADDRESS for a still picture and writes it to FILE.jpg.\n"
                               "Pictures sent without Huffman tables get the standard ones, so the file\n"
                               "always decodes.\n"
                               "\n"
                               "  ADDRESS            the module to ask: an IPv4 address or a device ID\n"
                               "  FILE.jpg           where to write the picture (replaced if it exists)\n") +
                           kEndpointHelp + kHelpOptionHelp;

// The module answers the request before its picture arrives, and drops the
// picture when its stream connection back to us is not up yet (just after
// the login), so an unanswered request is repeated. The wait doubles each
// time so that a slow module is not flooded with requests.
constexpr int kRequests = 4;
constexpr auto kFirstWait = std::chrono::milliseconds(500);
constexpr unsigned kPollMilliseconds = 200;

struct PictureRelease {
    int handle;
    void operator()(FrameHeader *picture) const { QRN_NET_Video_ReleasePicData(handle, picture); }
};
using Picture = std::unique_ptr<FrameHeader, PictureRelease>;

// Notices and stray frames would keep the poll from waiting; they are not
// what this command is after.
void discard_other_queues(int handle, int flags)
{
    int type = 0;
    if (flags & POLL_PARAM)
        while (QRN_NET_GetParamChangeType(handle, &type) == QRN_OK) {
        }
    FrameElement *frame = nullptr;
    if (flags & POLL_VIDEO)
        while (QRN_NET_Video_RequestVideoData1(handle, &frame, nullptr) == QRN_OK)
            QRN_NET_Video_ReleaseVideoData1(handle, frame);
}

// The next picture on the queue, or an empty pointer after the wait.
Picture wait_for_picture(const Session &session, std::chrono::steady_clock::duration wait)
{
    const int handle = session.handle();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline && !interrupt_requested()) {
        FrameHeader *picture = nullptr;
        if (QRN_NET_Video_RequestPicData(handle, &picture) == QRN_OK)
            return Picture(picture, PictureRelease{handle});
        int flags = 0;
        const int result = QRN_NET_Poll(handle, &flags, kPollMilliseconds);
        if (result == QRN_ERR_CLOSED || result == QRN_ERR_INVALID_HANDLE)
            throw CommandFailure("the connection to " + session.address() + " was lost");
        if (result == QRN_OK)
            discard_other_queues(handle, flags);
    }
    return Picture(nullptr, PictureRelease{handle});
}

// Only the start marker: a module may pad after the end marker.
bool starts_like_jpeg(const FrameHeader &picture)
{
    const uint8_t *data = QRN_FrameHeader_Data(&picture);
    return picture.length >= 2 && data[0] == 0xFF && data[1] == 0xD8;
}

void write_file(const std::string &path, const FrameHeader &picture)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        throw CommandFailure("cannot write " + path);
    file.write(reinterpret_cast<const char *>(QRN_FrameHeader_Data(&picture)), picture.length);
    file.close();
    if (!file) {
        // A part-written picture is worse than none; devices and pipes
        // named as the file are left alone.
        std::error_code ignored;
        if (std::filesystem::is_regular_file(path, ignored))
            std::filesystem::remove(path, ignored);
        throw CommandFailure("cannot write " + path);
    }
}

int run(const Arguments &arguments)
{
    arguments.expect_operands(2, 2);
    const std::string path = arguments.operands()[1];
    if (path.empty())
        throw UsageError("the file name is empty");
    const Endpoint endpoint = endpoint_from(arguments, 0);
    catch_interrupt();

    QRN_Video_JpegFrameHuffmanCheck(1);
    Session session(endpoint);
    Picture picture(nullptr, PictureRelease{session.handle()});
    auto wait = std::chrono::duration_cast<std::chrono::steady_clock::duration>(kFirstWait);
    for (int request = 0; request < kRequests && !picture && !interrupt_requested(); ++request, wait *= 2) {
        check_result(QRN_NET_Video_SnapShot(session.handle()),
                     "the snapshot request to " + session.address() + " failed");
        picture = wait_for_picture(session, wait);
    }
    if (!picture)
        throw CommandFailure(interrupt_requested() ? "interrupted before a picture arrived"
                                                   : "no picture arrived from " + session.address());
    if (!starts_like_jpeg(*picture))
        throw CommandFailure("the picture from " + session.address() + " is not a JPEG image");
    write_file(path, *picture);
    std::cout << "wrote " << path << " (" << picture->length << " bytes)\n";
    return kExitSuccess;
}

}  // namespace

const Command &snapshot_command()
{
    static const Command command{"snapshot", "a still picture from a module, as a JPEG file", kUsage, kEndpointOptions,
                                 run};
    return command;
}

}  // namespace qrn
