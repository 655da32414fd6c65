// Naming and writing of stored stills: the save-name increment, the capture
// path, the default folder, and a JPEG write that stores all or nothing.
#include "capturefiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class CaptureFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void nextFileNameCountsTheTrailingDigits_data();
    void nextFileNameCountsTheTrailingDigits();
    void incrementDigitsKeepsTheWidth_data();
    void incrementDigitsKeepsTheWidth();
    void capturePathUsesTheNameOrATimestamp();
    void defaultFolderFollowsHomePath();
    void jpegIsWholeAtQuality100();
    void failedWriteLeavesNothingAndKeepsTheOldFile_data();
    void failedWriteLeavesNothingAndKeepsTheOldFile();
};

void CaptureFilesTest::nextFileNameCountsTheTrailingDigits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("next");
    QTest::newRow("no digits") << "abc" << "abc1";
    QTest::newRow("one digit") << "abc1" << "abc2";
    QTest::newRow("carry grows the run") << "abc9" << "abc10";
    QTest::newRow("carry keeps the width") << "abc099" << "abc100";
    QTest::newRow("digits only, leading zeros") << "0099" << "0100";
    QTest::newRow("digits only, all nines") << "999" << "1000";
    QTest::newRow("digits inside only") << "a1b" << "a1b1";
    QTest::newRow("save name img009") << "img009" << "img010";
    QTest::newRow("save name 99") << "99" << "100";
    QTest::newRow("blanks are trimmed") << "  img7 " << "img8";
    QTest::newRow("blank") << "   " << "";
    QTest::newRow("empty") << "" << "";
    // Only ASCII digits count: an Arabic-Indic digit is a letter here.
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("n\u0663") << QString::fromUtf8("n\u06631");
}

void CaptureFilesTest::nextFileNameCountsTheTrailingDigits()
{
    QFETCH(QString, name);
    QFETCH(QString, next);
    QCOMPARE(nextFileName(name), next);
}

void CaptureFilesTest::incrementDigitsKeepsTheWidth_data()
{
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QString>("next");
    QTest::newRow("0") << "0" << "1";
    QTest::newRow("8") << "8" << "9";
    QTest::newRow("9") << "9" << "10";
    QTest::newRow("0099") << "0099" << "0100";
    QTest::newRow("1909") << "1909" << "1910";
    QTest::newRow("99999") << "99999" << "100000";
    // Wider than any integer type.
    QTest::newRow("30 digits") << "123456789012345678901234567899" << "123456789012345678901234567900";
}

void CaptureFilesTest::incrementDigitsKeepsTheWidth()
{
    QFETCH(QString, digits);
    QFETCH(QString, next);
    QVERIFY(isDigits(digits));
    QCOMPARE(incrementDigits(digits), next);
}

void CaptureFilesTest::capturePathUsesTheNameOrATimestamp()
{
    const QDateTime now(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
    QCOMPARE(buildCaptureFilePath("/data/pics", " img009 ", now), QString("/data/pics/img009.jpg"));
    QCOMPARE(buildCaptureFilePath("/data/pics", "", now), QString("/data/pics/20260304050607089.jpg"));
    QCOMPARE(buildCaptureFilePath("/data/pics", "  ", now), QString("/data/pics/20260304050607089.jpg"));
}

void CaptureFilesTest::defaultFolderFollowsHomePath()
{
    const QByteArray saved = qgetenv("HOMEPATH");
    const bool wasSet = qEnvironmentVariableIsSet("HOMEPATH");

    qputenv("HOMEPATH", "\\Users\\ann");
    QCOMPARE(defaultStoragePath(), QString("C:/Users/ann/Pictures"));
    QCOMPARE(nativeDefaultStoragePath(), QString("C:\\Users\\ann\\Pictures"));

    qunsetenv("HOMEPATH");
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    QVERIFY(!pictures.isEmpty());
    QCOMPARE(defaultStoragePath(), pictures);

    if (wasSet)
        qputenv("HOMEPATH", saved);
}

void CaptureFilesTest::jpegIsWholeAtQuality100()
{
    QTemporaryDir dir;
    QImage picture(160, 120, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x, y * 2, (x + y) % 256));
    const QString path = dir.filePath("still.jpg");
    QVERIFY(writeJpeg(picture, path));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9"));
    QByteArray atQuality100;
    QBuffer buffer(&atQuality100);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, "jpg", 100));
    QCOMPARE(bytes, atQuality100);
    // Only the picture is left in the folder: the temporary file is gone.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"still.jpg"}));

    // Sources deliver 32-bit or 24-bit frames of the same pixels: a still
    // is the same file either way.
    const QString fromRgb888 = dir.filePath("rgb888.jpg");
    QVERIFY(writeJpeg(picture.convertToFormat(QImage::Format_RGB888), fromRgb888));
    QFile other(fromRgb888);
    QVERIFY(other.open(QIODevice::ReadOnly));
    QCOMPARE(other.readAll(), bytes);
}

void CaptureFilesTest::failedWriteLeavesNothingAndKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("where");
    // Root may write a read-only folder, so these fail for everyone.
    QTest::newRow("folder under a regular file") << "file/below.jpg";
    QTest::newRow("name too long") << QString(300, 'n') + ".jpg";
    QTest::newRow("missing folder") << "absent/still.jpg";
    QTest::newRow("null picture over an old file") << "old.jpg";
}

void CaptureFilesTest::failedWriteLeavesNothingAndKeepsTheOldFile()
{
    QFETCH(QString, where);
    QTemporaryDir dir;
    QFile regular(dir.filePath("file"));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    QFile old(dir.filePath("old.jpg"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the old picture");
    old.close();

    QImage picture(32, 32, QImage::Format_RGB32);
    picture.fill(Qt::red);
    if (where == "old.jpg")
        picture = QImage();
    QVERIFY(!writeJpeg(picture, dir.filePath(where)));

    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList({"file", "old.jpg"}));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("the old picture"));
}

QTEST_GUILESS_MAIN(CaptureFilesTest)
#include "capturefiles_test.moc"
