// Reads a Motion-JPEG stream through ml_camera, as the viewer's frame loop
// does, until it has the frames asked for: ml_stream_reader FRAMES WIDTH
// HEIGHT SECONDS. The stream's address comes from KELVO_ML_ADDRESS. Exits
// 0 when FRAMES frames of WIDTHxHEIGHT decoded in time.
#include <ml_camera.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>

#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: ml_stream_reader FRAMES WIDTH HEIGHT SECONDS\n");
        return 2;
    }
    const int wanted = std::atoi(argv[1]);
    const QSize size(std::atoi(argv[2]), std::atoi(argv[3]));
    const qint64 limitMs = std::atoi(argv[4]) * 1000LL;

    const int handle = ML_StartPreview(ML_DEFAULT_ADDRESS);
    if (handle == 0) {
        std::fprintf(stderr, "ml_stream_reader: no preview for KELVO_ML_ADDRESS\n");
        return 1;
    }
    std::vector<char> buffer(ML_FRAME_BUFFER_SIZE);
    int decoded = 0;
    int undecodable = 0;
    QElapsedTimer timer;
    timer.start();
    while (decoded < wanted && timer.elapsed() < limitMs) {
        int number = 0;
        const int length = ML_GetVideoFrame(handle, buffer.data(), &number);
        if (length <= 0) {
            QThread::msleep(10);
            continue;
        }
        const QImage image = QImage::fromData(reinterpret_cast<const uchar *>(buffer.data()), length, "jpg");
        if (image.size() == size)
            ++decoded;
        else
            ++undecodable;
    }
    ML_StopPreview(handle);
    std::printf("ml_stream_reader: %d frames of %dx%d decoded, %d not\n", decoded, size.width(), size.height(),
                undecodable);
    return decoded >= wanted && undecodable == 0 ? 0 : 1;
}
