// The multipart reader against framing as servers really send it: every case
// is fed whole, split in two at every byte position and byte by byte, and
// must give the same parts each time.
#include <multipart_parser.h>

#include <QtTest>

using mlcam::MultipartParser;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

struct Result {
    QList<QByteArray> parts;
    size_t refused = 0;
    bool finished = false;
};

Result parse(const QByteArray &stream, const QByteArray &boundary, int maxPart, const QList<int> &cuts)
{
    Result result;
    MultipartParser parser(boundary.toStdString(), static_cast<size_t>(maxPart), [&](const uint8_t *data, size_t size) {
        result.parts.append(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    });
    int from = 0;
    for (int cut : cuts + QList<int>{stream.size()}) {
        // A copy per read, so a read past the piece shows up under ASan.
        const QByteArray piece = stream.mid(from, cut - from);
        parser.feed(reinterpret_cast<const uint8_t *>(piece.constData()), static_cast<size_t>(piece.size()));
        from = cut;
    }
    result.refused = parser.parts_refused();
    result.finished = parser.finished();
    return result;
}

QByteArray part(const QByteArray &boundary, const QByteArray &headers, const QByteArray &data)
{
    return "--" + boundary + "\r\n" + headers + "\r\n" + data + "\r\n";
}

QByteArray jpegHeaders(int length)
{
    return "Content-Type: image/jpeg\r\nContent-Length: " + QByteArray::number(length) + "\r\n";
}

} // namespace

class MultipartParserTest : public QObject
{
    Q_OBJECT

private slots:
    void partsSurviveEverySplit_data();
    void partsSurviveEverySplit();
    void boundaryFromContentType_data();
    void boundaryFromContentType();
};

void MultipartParserTest::partsSurviveEverySplit_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("headerBoundary");  // from Content-Type; empty: learnt from the body
    QTest::addColumn<int>("maxPart");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<int>("refused");
    QTest::addColumn<bool>("finished");

    const QByteArray a = "\xFF\xD8 first \x00 frame \xFF\xD9";
    const QByteArray b = "\xFF\xD8second\r\n-frame\xFF\xD9";
    const QByteArray c = "\xFF\xD8third\xFF\xD9";
    const QByteArray end = "--mlframe\r\n";

    QTest::newRow("correct Content-Length")
        << part("mlframe", jpegHeaders(a.size()), a) + part("mlframe", jpegHeaders(b.size()), b) + end
        << QByteArray("mlframe") << 100 << QList<QByteArray>{a, b} << 0 << false;
    QTest::newRow("no Content-Length")
        << part("mlframe", "Content-Type: image/jpeg\r\n", a) + part("mlframe", "", b) + end << QByteArray("mlframe")
        << 100 << QList<QByteArray>{a, b} << 0 << false;
    QTest::newRow("Content-Length too small, too large, not a number")
        << part("mlframe", jpegHeaders(3), a) + part("mlframe", jpegHeaders(90), b) +
               part("mlframe", "Content-Length: 12abc\r\n", c) + end
        << QByteArray("mlframe") << 100 << QList<QByteArray>{a, b, c} << 0 << false;
    QTest::newRow("garbage before the first boundary")
        << QByteArray("\x00\x01--mlfram\r\n--mlframeX\r\nnoise\xFF", 26) + part("mlframe", jpegHeaders(a.size()), a) +
               end
        << QByteArray("mlframe") << 100 << QList<QByteArray>{a} << 0 << false;
    QTest::newRow("oversized part refused, next intact (with Content-Length)")
        << part("mlframe", jpegHeaders(40), QByteArray(40, 'x')) + part("mlframe", jpegHeaders(c.size()), c) + end
        << QByteArray("mlframe") << 16 << QList<QByteArray>{c} << 1 << false;
    QTest::newRow("oversized part refused, next intact (without)")
        << part("mlframe", "", QByteArray(200, '-')) + part("mlframe", "", c) + end << QByteArray("mlframe") << 16
        << QList<QByteArray>{c} << 1 << false;
    QTest::newRow("a part exactly at the limit is kept")
        << part("mlframe", "", QByteArray(16, 'y')) + end << QByteArray("mlframe") << 16
        << QList<QByteArray>{QByteArray(16, 'y')} << 0 << false;
    // What ffmpeg's mpjpeg muxer sends when it claims application/octet-stream.
    QTest::newRow("boundary learnt from the body")
        << QByteArray("junk--notit\r\n") + part("ffmpeg", "Content-type: image/jpeg\r\nContent-length: " +
                                                              QByteArray::number(a.size()) + "\r\n", a) +
               part("ffmpeg", "", b) + "--ffmpeg\r\n"
        << QByteArray() << 100 << QList<QByteArray>{a, b} << 0 << false;
    QTest::newRow("boundary text inside a part, not at a line start")
        << part("mlframe", "", "ab--mlframe\r\ncd") + end << QByteArray("mlframe") << 100
        << QList<QByteArray>{"ab--mlframe\r\ncd"} << 0 << false;
    QTest::newRow("line ends of LF alone")
        << QByteArray("--mlframe\nContent-Length: 4\n\nJJJJ\n--mlframe\n\nKK\n--mlframe\n") << QByteArray("mlframe")
        << 100 << QList<QByteArray>{"JJJJ", "KK"} << 0 << false;
    QTest::newRow("closing delimiter ends the stream")
        << part("mlframe", "", a) + "--mlframe--\r\n" + part("mlframe", "", b) + end << QByteArray("mlframe") << 100
        << QList<QByteArray>{a} << 0 << true;
    QTest::newRow("header block that never ends is dropped")
        << "--mlframe\r\n" + QByteArray(9000, 'h') + "\r\n" + part("mlframe", "", c) + end << QByteArray("mlframe")
        << 100 << QList<QByteArray>{c} << 0 << false;
}

void MultipartParserTest::partsSurviveEverySplit()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, headerBoundary);
    QFETCH(int, maxPart);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(int, refused);
    QFETCH(bool, finished);

    const auto check = [&](const QList<int> &cuts, const QString &how) {
        const Result r = parse(stream, headerBoundary, maxPart, cuts);
        if (r.parts != expected || r.refused != static_cast<size_t>(refused) || r.finished != finished)
            QFAIL(qPrintable(QString("%1: %2 parts, %3 refused, got %4").arg(how).arg(r.parts.size()).arg(r.refused).arg(
                QString::fromLatin1(r.parts.join("|").toPercentEncoding()))));
    };
    check({}, "whole");
    for (int cut = 1; cut < stream.size(); ++cut)
        check({cut}, QString("split at %1").arg(cut));
    QList<int> everyByte;
    for (int i = 1; i < stream.size(); ++i)
        everyByte.append(i);
    check(everyByte, "byte by byte");
}

void MultipartParserTest::boundaryFromContentType_data()
{
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("boundary");
    QTest::newRow("plain") << "multipart/x-mixed-replace;boundary=ffmpeg" << "ffmpeg";
    QTest::newRow("spaced, more parameters") << "multipart/x-mixed-replace; boundary=mlframe; charset=x" << "mlframe";
    QTest::newRow("quoted, with its dashes") << "multipart/x-mixed-replace; boundary=\"--a b\"" << "a b";
    QTest::newRow("octet-stream names none") << "application/octet-stream" << "";
    QTest::newRow("multipart without boundary") << "multipart/x-mixed-replace" << "";
    QTest::newRow("boundary over 70 characters") << "multipart/x-mixed-replace;boundary=" + QString(71, 'b') << "";
}

void MultipartParserTest::boundaryFromContentType()
{
    QFETCH(QString, contentType);
    QFETCH(QString, boundary);
    QCOMPARE(QString::fromStdString(MultipartParser::boundary_from_content_type(contentType.toStdString())), boundary);
}

QTEST_APPLESS_MAIN(MultipartParserTest)
#include "multipart_parser_test.moc"
