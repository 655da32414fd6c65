// The window when its files let it down: the disk fills while capturing,
// the storage folder vanishes, descriptors run out, the settings file is
// read-only or unreadable. Each gives one clear box, and no picture or
// setting already stored is lost. The disk and the read-only file are real
// mounts, so those cases need root (CI runs as root) and are skipped without.
#include "mainwindow.h"

#include "window_helpers.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const QString kSaveFailed = "Save picture failed, please check the save path: ";

// A picture whose JPEG is some tens of kilobytes.
QImage noisyPicture(int seed)
{
    QImage picture(320, 240, QImage::Format_RGB32);
    quint32 state = 2463534242u + static_cast<quint32>(seed);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            picture.setPixel(x, y, qRgb(state & 0xFF, (state >> 8) & 0xFF, x));
        }
    return picture;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A whole JPEG: SOI first, EOI last, and it decodes.
bool wholeJpeg(const QString &path)
{
    const QByteArray bytes = contents(path);
    return bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9") && !QImage::fromData(bytes, "jpg").isNull();
}

} // namespace

class MainWindowLimitsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fullDiskKeepsEveryStoredPicture();
    void removedFolderIsReportedAndNotRecreated();
    void exhaustedDescriptorsFailOneCaptureOnly();
    void readOnlySettingsAreUsedAndLeftAlone();
    void unreadableSettingsAreKeptAside_data();
    void unreadableSettingsAreKeptAside();

private:
    QString folder() const { return mScratch->filePath("pictures"); }
    void writeSettings(const QVariantMap &values);
    void buildWindow();
    int store(const QImage &image);
    QStringList folderEntries() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    int rows() { return child<QTableWidget>(*mWindow, "tableWidget")->rowCount(); }
    QString saveName() { return child<QLineEdit>(*mWindow, "mFileName")->text(); }
    // Mounts for the case; false (with the reason printed) when not allowed.
    bool mount(const QString &source, const QString &target, const char *type, unsigned long flags,
               const char *options);

    std::unique_ptr<QTemporaryDir> mScratch;
    QString mPreviousDirectory;
    std::unique_ptr<MainWindow> mWindow;
    QStringList mMounts;
};

void MainWindowLimitsTest::init()
{
    mScratch = std::make_unique<QTemporaryDir>();
    QVERIFY(mScratch->isValid());
    mPreviousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(mScratch->path()));
    QVERIFY(QDir().mkpath(folder()));
    // Nothing listens there: the window never finds a module.
    qputenv("KELVO_QRN_ADDRESS", "127.15.5.1");
    qputenv("KELVO_ML_ADDRESS", "127.15.5.2:1");
}

void MainWindowLimitsTest::cleanup()
{
    mWindow.reset();
    QDir::setCurrent(mPreviousDirectory);
    while (!mMounts.isEmpty())
        umount2(QFile::encodeName(mMounts.takeLast()).constData(), MNT_DETACH);
    mScratch.reset();
}

bool MainWindowLimitsTest::mount(const QString &source, const QString &target, const char *type, unsigned long flags,
                                 const char *options)
{
    if (::mount(QFile::encodeName(source).constData(), QFile::encodeName(target).constData(), type, flags,
                options) != 0) {
        qWarning("cannot mount on %s: %s", qPrintable(target), strerror(errno));
        return false;
    }
    if (!(flags & MS_REMOUNT))
        mMounts << target;
    return true;
}

void MainWindowLimitsTest::writeSettings(const QVariantMap &values)
{
    QSettings file("./applicaiton.ini", QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        file.setValue(it.key(), it.value());
}

void MainWindowLimitsTest::buildWindow()
{
    mWindow = std::make_unique<MainWindow>();
    mWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
}

int MainWindowLimitsTest::store(const QImage &image)
{
    int result = 1;
    QMetaObject::invokeMethod(mWindow.get(), "storageImage", Qt::DirectConnection, Q_RETURN_ARG(int, result),
                              Q_ARG(QImage, image));
    return result;
}

void MainWindowLimitsTest::fullDiskKeepsEveryStoredPicture()
{
    if (geteuid() != 0)
        QSKIP("a small file system needs root");
    // Room for about three pictures.
    QBuffer probe;
    probe.open(QIODevice::WriteOnly);
    QVERIFY(noisyPicture(0).save(&probe, "jpg", 100));
    const qint64 room = (probe.size() * 7 / 2 + 4095) / 4096 * 4096;
    if (!mount("tmpfs", folder(), "tmpfs", 0, qPrintable(QString("size=%1").arg(room))))
        QSKIP("tmpfs cannot be mounted here");
    writeSettings({{"LANG_STR", 1}, {"KEY_STORAGE_PATH_STR", folder()}, {"KEY_FILENAME_STR", "full001"}});
    buildWindow();

    BoxAnswerer answerer("Ok");
    int stored = 0;
    int result = 0;
    while ((result = store(noisyPicture(stored + 1))) == 0)
        QVERIFY2(++stored < 10, "the small disk never filled");
    QCOMPARE(result, -2);
    QVERIFY(stored >= 2);
    const QString failedName = QString("full%1").arg(stored + 1, 3, 10, QChar('0'));
    QCOMPARE(answerer.texts, QStringList({kSaveFailed + folder() + "/" + failedName + ".jpg"}));
    // Only what was stored is listed; the name waits for the next try.
    QCOMPARE(rows(), stored);
    QCOMPARE(saveName(), failedName);
    QStringList expected;
    for (int i = 1; i <= stored; ++i)
        expected << QString("full%1.jpg").arg(i, 3, 10, QChar('0'));
    QCOMPARE(folderEntries(), expected);

    // Replacing a stored picture on the full disk keeps the old one whole.
    const QString first = folder() + "/full001.jpg";
    const QByteArray before = contents(first);
    child<QLineEdit>(*mWindow, "mFileName")->setText("full001");
    QCOMPARE(store(noisyPicture(99)), -2);
    QCOMPARE(contents(first), before);
    QCOMPARE(folderEntries(), expected);
    for (const QString &name : expected)
        QVERIFY2(wholeJpeg(folder() + "/" + name), qPrintable(name));

    // Room again: the capture that failed is stored under its name.
    QVERIFY(QFile::remove(folder() + "/" + expected.last()));
    child<QLineEdit>(*mWindow, "mFileName")->setText(failedName);
    QCOMPARE(store(noisyPicture(stored + 1)), 0);
    QVERIFY(wholeJpeg(folder() + "/" + failedName + ".jpg"));
}

void MainWindowLimitsTest::removedFolderIsReportedAndNotRecreated()
{
    writeSettings({{"LANG_STR", 1}, {"KEY_STORAGE_PATH_STR", folder()}, {"KEY_FILENAME_STR", "gone1"}});
    buildWindow();
    BoxAnswerer answerer("Ok");
    QCOMPARE(store(noisyPicture(1)), 0);
    QVERIFY(QDir(folder()).removeRecursively());

    QCOMPARE(store(noisyPicture(2)), -2);
    QCOMPARE(answerer.texts, QStringList({kSaveFailed + folder() + "/gone2.jpg"}));
    QCOMPARE(rows(), 1);
    QCOMPARE(saveName(), QString("gone2"));
    QVERIFY(!QFileInfo::exists(folder()));

    // The folder back: captures go on where they stopped.
    QVERIFY(QDir().mkpath(folder()));
    QCOMPARE(store(noisyPicture(2)), 0);
    QCOMPARE(folderEntries(), QStringList({"gone2.jpg"}));
    QCOMPARE(rows(), 2);
}

void MainWindowLimitsTest::exhaustedDescriptorsFailOneCaptureOnly()
{
    writeSettings({{"LANG_STR", 1}, {"KEY_STORAGE_PATH_STR", folder()}, {"KEY_FILENAME_STR", "fd1"}});
    buildWindow();
    BoxAnswerer answerer("Ok");
    QCOMPARE(store(noisyPicture(1)), 0);

    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 256;
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<int> taken;
    for (int fd; (fd = dup(STDERR_FILENO)) >= 0;)
        taken.push_back(fd);
    const int result = store(noisyPicture(2));
    for (int fd : taken)
        close(fd);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);

    QCOMPARE(result, -2);
    QCOMPARE(answerer.texts, QStringList({kSaveFailed + folder() + "/fd2.jpg"}));
    QCOMPARE(rows(), 1);
    QCOMPARE(folderEntries(), QStringList({"fd1.jpg"}));
    QCOMPARE(store(noisyPicture(2)), 0);
    QCOMPARE(folderEntries(), QStringList({"fd1.jpg", "fd2.jpg"}));
    QVERIFY(wholeJpeg(folder() + "/fd2.jpg"));
}

void MainWindowLimitsTest::readOnlySettingsAreUsedAndLeftAlone()
{
    const QString settingsFolder = mScratch->filePath("settings");
    QVERIFY(QDir().mkpath(settingsFolder));
    QVERIFY(QDir::setCurrent(settingsFolder));
    writeSettings({{"LANG_STR", 1}, {"KEY_CAMERA_TYPE_STR", 1}, {"BRIGHTNESS_STR", 77},
                   {"KEY_STORAGE_PATH_STR", folder()}, {"KEY_FILENAME_STR", "ro5"}, {"KEY_ID_AUTO_INC_STR", true}});
    const QByteArray stored = contents("applicaiton.ini");
    if (geteuid() == 0) {
        // Root writes through any mode bits: a read-only mount stops it.
        if (!mount(settingsFolder, settingsFolder, nullptr, MS_BIND, nullptr) ||
            !mount(QString(), settingsFolder, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr))
            QSKIP("a read-only mount cannot be made here");
    } else {
        QVERIFY(QFile::setPermissions("applicaiton.ini", QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(settingsFolder, QFile::ReadOwner | QFile::ExeOwner));
    }

    BoxAnswerer answerer("Ok");
    buildWindow();
    QTRY_COMPARE(answerer.texts,
                 QStringList({"The settings file ./applicaiton.ini cannot be written: changes are kept only until "
                              "the program ends."}));
    // What the file holds is used.
    QCOMPARE(child<QSlider>(*mWindow, "brightnessSlider")->value(), 77);
    QCOMPARE(child<QComboBox>(*mWindow, "mConnectTypeComboBox")->currentIndex(), 1);
    QCOMPARE(saveName(), QString("ro5"));
    // Changes work for the run, with no second box.
    child<QSlider>(*mWindow, "brightnessSlider")->setValue(90);
    QCOMPARE(store(noisyPicture(1)), 0);
    QCOMPARE(saveName(), QString("ro6"));
    QCOMPARE(answerer.texts.size(), 1);
    mWindow.reset();
    QCOMPARE(contents("applicaiton.ini"), stored);
    if (geteuid() != 0)
        QVERIFY(QFile::setPermissions(settingsFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void MainWindowLimitsTest::unreadableSettingsAreKeptAside_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("unreadable");
    QByteArray garbage;
    quint32 state = 7;
    for (int i = 0; i < 600; ++i) {
        state = state * 1103515245u + 12345u;
        garbage += static_cast<char>(state >> 24);
    }
    QTest::newRow("random bytes") << garbage << true;
    // Readable, but no value in its range: each falls back to its default.
    QTest::newRow("values out of range")
        << QByteArray("[General]\nLANG_STR=7\nKEY_CAMERA_TYPE_STR=-3\nBRIGHTNESS_STR=999\n") << false;
    QTest::newRow("words for numbers")
        << QByteArray("[General]\nLANG_STR=english\nKEY_CAMERA_TYPE_STR=wifi\nBRIGHTNESS_STR=bright\n") << false;
}

void MainWindowLimitsTest::unreadableSettingsAreKeptAside()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, unreadable);
    {
        QFile settings("applicaiton.ini");
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(file);
    }
    BoxAnswerer answerer("Ok");
    buildWindow();
    if (unreadable) {
        QTRY_COMPARE(answerer.texts.size(), 1);
        QVERIFY(answerer.texts[0].contains("./applicaiton.ini.bad") || answerer.texts[0].contains("设置"));
        QCOMPARE(contents("applicaiton.ini.bad"), file);
    } else {
        QTest::qWait(50);
        QCOMPARE(answerer.texts, QStringList());
        QVERIFY(!QFileInfo::exists("applicaiton.ini.bad"));
    }
    const bool chineseSystem = QLocale::system().uiLanguages().contains("zh-CN");
    QCOMPARE(child<QSlider>(*mWindow, "brightnessSlider")->value(), 170);
    QCOMPARE(child<QComboBox>(*mWindow, "mConnectTypeComboBox")->currentIndex(), 0);
    QCOMPARE(child<QPushButton>(*mWindow, "mCaptureImageButton")->text(),
             chineseSystem ? QString::fromUtf8("拍  照") : QString("Capture"));
    mWindow.reset();
    // The file is sound again, with the values in use.
    QSettings now("applicaiton.ini", QSettings::IniFormat);
    QCOMPARE(now.status(), QSettings::NoError);
    QCOMPARE(now.value("KEY_CAMERA_TYPE_STR").toInt(), 0);
}

QTEST_MAIN(MainWindowLimitsTest)
#include "mainwindow_limits_test.moc"
