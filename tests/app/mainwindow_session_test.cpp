// The real window against the simulated modules on loopback: connecting
// over WiFi and USB, the end of a stream, capture and storage, the settings
// file, brightness, the frame-rate chart, the device page and inspection. Each test has
// its own working directory (the settings file lives there) and its own
// module addresses.
#include "mainwindow.h"
#include "mlbrightnesssender.h"
#include "videowidget.h"

#include <ml_camera.h>
#include <ml_http_server.h>

#include "zoneoverlay.h"

#include "end_face_scene.h"
#include "probe_wire.h"
#include "window_helpers.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWaitMs = 15000;
constexpr uint16_t kMlPort = 18080;
constexpr int kModuleWidth = 320;
constexpr int kModuleHeight = 240;

const QString kOpenFailedChinese = QString::fromUtf8("打开设备失败，请检查连接状态或更换连接方式!");
const QString kOpenFailedEnglish =
    "Open device failure, please check connection status or replace connection method!";

QtCharts::QLineSeries *fpsSeries(MainWindow &window)
{
    auto *view = child<QWidget>(window, "widget_fps")->findChild<QtCharts::QChartView *>();
    return view ? qobject_cast<QtCharts::QLineSeries *>(view->chart()->series().value(0)) : nullptr;
}

bool pictureIsBlack(MainWindow &window)
{
    const QImage shot = child<VideoWidget>(window, "mVideoWidget")->grab().toImage();
    for (int y = 0; y < shot.height(); y += 7)
        for (int x = 0; x < shot.width(); x += 7)
            if (qGray(shot.pixel(x, y)) > 8)
                return false;
    return true;
}

// The largest difference of any channel of any pixel.
int largestDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}


QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QImage testPicture()
{
    QImage picture(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 4, y * 5, 128));
    return picture;
}

} // namespace

class MainWindowSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wifiPrefersTheSecondModule();
    void wifiFallsBackToTheSdkModule();
    void noDeviceGivesOneBoxInTheStartLanguage_data();
    void noDeviceGivesOneBoxInTheStartLanguage();
    void streamEndClearsThePictureAndBringsConnectBack();
    void captureStoresTheFrameShownAndAdvancesTheName();
    void existingFileIsReplacedOnlyAfterYes_data();
    void existingFileIsReplacedOnlyAfterYes();
    void emptySaveNameUsesTheTimestamp();
    void failedWriteIsReportedAndClaimsNothing_data();
    void failedWriteIsReportedAndClaimsNothing();
    void captureWhileDisconnectedAsksNothing();
    void settingsFileHoldsTheSixKeysAfterASession();
    void storedBrightnessGoesOutAtStartUnless128_data();
    void storedBrightnessGoesOutAtStartUnless128();
    void sliderBurstLeavesTheModuleAtTheLastValue();
    void chartKeeps359PointsOfFramesPerSecond();
    void rebootReconfiguresTheSecondModule();
    void filesAndFoldersOpenOnTheDesktop();
    void cancelledFolderChoiceFallsBackToTheDefault();
    void startLanguageFollowsTheSystemList();
    void zoneOverlayCirclesTheLiveFibre();
    void inspectingTheNewestCaptureShowsItAndReportsBesideIt();

private:
    void writeSettings(const QVariantMap &values);
    QSettings settings() const;
    void startSdkModule(uint32_t fps = 10, int width = kModuleWidth, int height = kModuleHeight);
    void startSecondModule();
    void buildWindow();
    bool secondModuleLinked() const;
    bool brightnessSent() const;
    bool connectWindow();
    QString picturesFolder() const { return mScratch->filePath("pictures"); }
    int store(const QImage &image);

    std::unique_ptr<QTemporaryDir> mScratch;
    QString mPreviousDirectory;
    testing_support::RunningSim mSdkModule;
    std::unique_ptr<probesim::MlHttpServer> mSecondModule;
    std::unique_ptr<MainWindow> mWindow;
    int mTestNumber = 0;
};

void MainWindowSessionTest::init()
{
    ++mTestNumber;
    mScratch = std::make_unique<QTemporaryDir>();
    QVERIFY(mScratch->isValid());
    mPreviousDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(mScratch->path()));
    QVERIFY(QDir().mkpath(picturesFolder()));
    qunsetenv("HOMEPATH");
    // Addresses where nothing listens until a test starts a module there.
    qputenv("KELVO_QRN_ADDRESS", QByteArray::fromStdString(testing_support::next_loopback_address()));
    qputenv("KELVO_ML_ADDRESS", "127.0.58." + QByteArray::number(mTestNumber) + ":" + QByteArray::number(kMlPort));
}

void MainWindowSessionTest::cleanup()
{
    mWindow.reset();
    mSecondModule.reset();
    mSdkModule = testing_support::RunningSim();
    QDir::setCurrent(mPreviousDirectory);
    mScratch.reset();
}

void MainWindowSessionTest::writeSettings(const QVariantMap &values)
{
    QSettings file("./applicaiton.ini", QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        file.setValue(it.key(), it.value());
}

QSettings MainWindowSessionTest::settings() const
{
    return QSettings(mScratch->filePath("applicaiton.ini"), QSettings::IniFormat);
}

void MainWindowSessionTest::startSdkModule(uint32_t fps, int width, int height)
{
    mSdkModule = testing_support::start_sim();
    mSdkModule.sim->set_video_format(probesim::wire::kFormatMjpeg, width, height, fps);
    qputenv("KELVO_QRN_ADDRESS", QByteArray::fromStdString(mSdkModule.address));
}

void MainWindowSessionTest::startSecondModule()
{
    const QByteArray address = "127.0.58." + QByteArray::number(mTestNumber);
    mSecondModule = std::make_unique<probesim::MlHttpServer>();
    mSecondModule->set_video(kModuleWidth, kModuleHeight, 10);
    QVERIFY(mSecondModule->start(address.toStdString(), kMlPort));
}

void MainWindowSessionTest::buildWindow()
{
    mWindow = std::make_unique<MainWindow>();
    mWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
}

bool MainWindowSessionTest::secondModuleLinked() const
{
    // The library keeps one preview per address: the window's.
    return ML_IsDeviceConnected(ML_StartPreview(ML_DEFAULT_ADDRESS)) == 1;
}

// The slider's values go to the second kind of module from a thread.
bool MainWindowSessionTest::brightnessSent() const
{
    auto *sender = mWindow->findChild<KelvoWifi::MlBrightnessSender *>(QStringLiteral("mMlBrightnessSender"));
    return sender && sender->waitUntilSent(kWaitMs);
}

bool MainWindowSessionTest::connectWindow()
{
    child<QPushButton>(*mWindow, "mConnectDeviceButton")->click();
    return child<QPushButton>(*mWindow, "mDisconnectDeviceButton")->isVisible();
}

int MainWindowSessionTest::store(const QImage &image)
{
    int result = 1;
    QMetaObject::invokeMethod(mWindow.get(), "storageImage", Qt::DirectConnection, Q_RETURN_ARG(int, result),
                              Q_ARG(QImage, image));
    return result;
}

void MainWindowSessionTest::wifiPrefersTheSecondModule()
{
    startSdkModule();
    startSecondModule();
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1}, {"BRIGHTNESS_STR", 128}});
    buildWindow();
    QTRY_VERIFY_WITH_TIMEOUT(secondModuleLinked(), kWaitMs);
    QVERIFY(brightnessSent());
    QCOMPARE(mSecondModule->state().device.params.brightness, 50);  // the module's own

    BoxAnswerer answerer("Ok");
    QVERIFY(connectWindow());
    QVERIFY(answerer.texts.isEmpty());
    QVERIFY(!child<QPushButton>(*mWindow, "mConnectDeviceButton")->isVisible());
    QVERIFY(!child<QComboBox>(*mWindow, "mConnectTypeComboBox")->isEnabled());
    QVERIFY(child<QTimer>(*mWindow, "mFpsTimer")->isActive());
    QCOMPARE(mSecondModule->state().device.params.brightness, 128);
    QCOMPARE(mSecondModule->state().device.params.contrast, 40);
    QTRY_VERIFY_WITH_TIMEOUT(!pictureIsBlack(*mWindow), kWaitMs);
    // The SDK's module was never asked.
    QVERIFY(mSdkModule.sim->packets().empty());

    child<QPushButton>(*mWindow, "mDisconnectDeviceButton")->click();
    QVERIFY(child<QPushButton>(*mWindow, "mConnectDeviceButton")->isVisible());
    QVERIFY(child<QComboBox>(*mWindow, "mConnectTypeComboBox")->isEnabled());
    QVERIFY(pictureIsBlack(*mWindow));
}

void MainWindowSessionTest::wifiFallsBackToTheSdkModule()
{
    startSdkModule();
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1}, {"BRIGHTNESS_STR", 128}});
    buildWindow();

    BoxAnswerer answerer("Ok");
    QVERIFY(connectWindow());
    QVERIFY(answerer.texts.isEmpty());
    QVERIFY(mSdkModule.sim->wait_until([](const auto &s) { return s.stream_connections_open >= 1; },
                                       std::chrono::milliseconds(kWaitMs)));
    QTRY_VERIFY_WITH_TIMEOUT(!pictureIsBlack(*mWindow), kWaitMs);
    QVERIFY(child<QTimer>(*mWindow, "mFpsTimer")->isActive());

    // Closing the window while connected ends the session with the module.
    mWindow.reset();
    QVERIFY(mSdkModule.sim->wait_until([](const auto &s) { return s.stream_connections_open == 0; },
                                       std::chrono::milliseconds(kWaitMs)));
}

void MainWindowSessionTest::noDeviceGivesOneBoxInTheStartLanguage_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("button");
    QTest::newRow("WiFi, Chinese") << 1 << 0 << kOpenFailedChinese << QString::fromUtf8("确认");
    QTest::newRow("WiFi, English") << 1 << 1 << kOpenFailedEnglish << "Ok";
    QTest::newRow("USB, English") << 0 << 1 << kOpenFailedEnglish << "Ok";
}

void MainWindowSessionTest::noDeviceGivesOneBoxInTheStartLanguage()
{
    QFETCH(int, type);
    QFETCH(int, language);
    QFETCH(QString, text);
    QFETCH(QString, button);
    writeSettings({{"KEY_CAMERA_TYPE_STR", type}, {"LANG_STR", language}});
    buildWindow();

    BoxAnswerer answerer(button);
    // Runs once the connect has begun: the window shows it is busy.
    Qt::CursorShape whileConnecting = Qt::ArrowCursor;
    QTimer::singleShot(0, [&] {
        if (QApplication::overrideCursor())
            whileConnecting = QApplication::overrideCursor()->shape();
    });
    QVERIFY(!connectWindow());
    QCOMPARE(whileConnecting, Qt::WaitCursor);
    QCOMPARE(answerer.texts, QStringList({text}));
    QCOMPARE(answerer.buttons, QList<QStringList>({{button}}));
    QVERIFY(child<QPushButton>(*mWindow, "mConnectDeviceButton")->isVisible());
    QVERIFY(child<QComboBox>(*mWindow, "mConnectTypeComboBox")->isEnabled());
    QVERIFY(!child<QTimer>(*mWindow, "mFpsTimer")->isActive());
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void MainWindowSessionTest::streamEndClearsThePictureAndBringsConnectBack()
{
    startSdkModule();
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1}});
    buildWindow();
    QVERIFY(connectWindow());
    QTRY_VERIFY_WITH_TIMEOUT(!pictureIsBlack(*mWindow), kWaitMs);

    mSdkModule.sim->stop();
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(*mWindow, "mConnectDeviceButton")->isVisible(), 20000);
    QVERIFY(!child<QPushButton>(*mWindow, "mDisconnectDeviceButton")->isVisible());
    QVERIFY(child<QComboBox>(*mWindow, "mConnectTypeComboBox")->isEnabled());
    QVERIFY(!child<QTimer>(*mWindow, "mFpsTimer")->isActive());
    QVERIFY(pictureIsBlack(*mWindow));
}

void MainWindowSessionTest::captureStoresTheFrameShownAndAdvancesTheName()
{
    // Slow frames keep the window within a frame of the camera even on a busy machine.
    startSdkModule(2);
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1},
                   {"KEY_STORAGE_PATH_STR", picturesFolder() + "/"},
                   {"KEY_FILENAME_STR", " img009 "},
                   {"KEY_ID_AUTO_INC_STR", true}});
    buildWindow();
    QVERIFY(connectWindow());
    QTRY_VERIFY_WITH_TIMEOUT(!pictureIsBlack(*mWindow), kWaitMs);

    // What the window shows at the moment it lists a still.
    auto *table = child<QTableWidget>(*mWindow, "tableWidget");
    auto *video = child<VideoWidget>(*mWindow, "mVideoWidget");
    QList<QImage> shown;
    connect(table->model(), &QAbstractItemModel::rowsInserted, this,
            [&] { shown << video->grab().toImage(); });

    const QStringList names = {"img009.jpg", "img010.jpg", "img011.jpg"};
    for (int i = 0; i < names.size(); ++i) {
        // A new frame each time, so each file must match its own.
        if (i > 0)
            QTRY_VERIFY_WITH_TIMEOUT(largestDifference(video->grab().toImage(), shown[i - 1]) > 48, kWaitMs);
        child<QPushButton>(*mWindow, "mCaptureImageButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), i + 1, kWaitMs);

        const QString path = picturesFolder() + "/" + names[i];
        QImage stored;
        QVERIFY(stored.load(path, "JPEG"));
        QCOMPARE(stored.size(), QSize(kModuleWidth, kModuleHeight));
        // The file, painted as the window paints its frames, is the frame shown.
        VideoWidget replay;
        replay.resize(video->size());
        QCOMPARE(replay.presentImage(stored), 0);
        const QImage replayed = replay.grab().toImage();
        int difference = largestDifference(replayed, shown[i]);
        // The camera hands out the newest frame it decoded. When the window
        // lags behind, that frame was still on its way at the click: then the
        // file is one of the next few frames the window shows, never an older one.
        QImage seen = shown[i];
        for (int newer = 0; newer < 3 && difference > 24; ++newer) {
            QImage next;
            QTRY_VERIFY_WITH_TIMEOUT(largestDifference(next = video->grab().toImage(), seen) > 48, kWaitMs);
            seen = next;
            difference = largestDifference(replayed, seen);
        }
        QVERIFY2(difference <= 24, qPrintable(QString::number(difference)));
        if (i > 0)
            QVERIFY(largestDifference(replayed, shown[i - 1]) > 48);

        QCOMPARE(table->item(0, 0)->text(), QString::number(i + 1));
        QCOMPARE(table->item(0, 1)->text(), names[i]);
        QCOMPARE(table->item(0, 2)->text(), QString::number(QFileInfo(path).size() / 1024.0, 'f', 2) + "KB");
        QCOMPARE(table->item(0, 3)->text(), path);
        QCOMPARE(table->item(0, 0)->textAlignment(), int(Qt::AlignCenter));
        QCOMPARE(table->item(0, 2)->textAlignment(), int(Qt::AlignCenter));
    }
    // Newest on top; the path column stays hidden; the name has moved on.
    QCOMPARE(table->item(2, 1)->text(), names[0]);
    QCOMPARE(table->item(2, 0)->text(), QString("1"));
    QVERIFY(table->isColumnHidden(3));
    QCOMPARE(child<QLineEdit>(*mWindow, "mFileName")->text(), QString("img012"));
    QCOMPARE(settings().value("KEY_FILENAME_STR").toString(), QString("img012"));
}

void MainWindowSessionTest::existingFileIsReplacedOnlyAfterYes_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("cancel") << "Cancel" << false;
    QTest::newRow("Escape") << "Escape" << false;
    QTest::newRow("Ok") << "Ok" << true;
}

void MainWindowSessionTest::existingFileIsReplacedOnlyAfterYes()
{
    QFETCH(QString, answer);
    QFETCH(bool, replaced);
    const QString path = picturesFolder() + "/img009.jpg";
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the old picture");
    old.close();
    writeSettings({{"LANG_STR", 1}, {"KEY_STORAGE_PATH_STR", picturesFolder()}, {"KEY_FILENAME_STR", "img009"}});
    buildWindow();

    BoxAnswerer answerer(answer);
    QCOMPARE(store(testPicture()), replaced ? 0 : -1);
    QCOMPARE(answerer.texts, QStringList({"File:" + path + "already exists, is it covered?"}));
    QCOMPARE(answerer.buttons, QList<QStringList>({{"Ok", "Cancel"}}));

    auto *table = child<QTableWidget>(*mWindow, "tableWidget");
    QVERIFY(old.open(QIODevice::ReadOnly));
    if (replaced) {
        QImage stored;
        QVERIFY(stored.loadFromData(old.readAll(), "JPEG"));
        QVERIFY(largestDifference(stored.convertToFormat(QImage::Format_RGB32), testPicture()) <= 8);
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(child<QLineEdit>(*mWindow, "mFileName")->text(), QString("img010"));
    } else {
        QCOMPARE(old.readAll(), QByteArray("the old picture"));
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(child<QLineEdit>(*mWindow, "mFileName")->text(), QString("img009"));
    }
    QCOMPARE(QDir(picturesFolder()).entryList(QDir::Files), QStringList({"img009.jpg"}));
}

void MainWindowSessionTest::emptySaveNameUsesTheTimestamp()
{
    writeSettings({{"KEY_STORAGE_PATH_STR", picturesFolder()}, {"KEY_FILENAME_STR", ""}});
    buildWindow();
    const QString before = QDateTime::currentDateTime().toString("yyyyMMddHHmmsszzz");
    QCOMPARE(store(testPicture()), 0);
    const QString after = QDateTime::currentDateTime().toString("yyyyMMddHHmmsszzz");

    const QStringList files = QDir(picturesFolder()).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY2(QRegularExpression("^[0-9]{17}\\.jpg$").match(files[0]).hasMatch(), qPrintable(files[0]));
    const QString stamp = files[0].left(17);
    QVERIFY(before <= stamp && stamp <= after);
    QCOMPARE(child<QLineEdit>(*mWindow, "mFileName")->text(), QString());
    QCOMPARE(child<QTableWidget>(*mWindow, "tableWidget")->item(0, 1)->text(), files[0]);
}

void MainWindowSessionTest::failedWriteIsReportedAndClaimsNothing_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    // Unwritable even for root: a folder below a regular file, a name too long.
    QTest::newRow("folder below a file, Chinese")
        << 0 << "file/below" << "img009" << QString::fromUtf8("保存图片失败，请检查保存路径：");
    QTest::newRow("name too long, English")
        << 1 << "" << QString(300, 'n') << "Save picture failed, please check the save path: ";
}

void MainWindowSessionTest::failedWriteIsReportedAndClaimsNothing()
{
    QFETCH(int, language);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFile regular(picturesFolder() + "/file");
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    const QString storage = folder.isEmpty() ? picturesFolder() : picturesFolder() + "/" + folder;
    writeSettings({{"LANG_STR", language}, {"KEY_STORAGE_PATH_STR", storage}, {"KEY_FILENAME_STR", name}});
    buildWindow();

    BoxAnswerer answerer(language == 1 ? "Ok" : QString::fromUtf8("确认"));
    QCOMPARE(store(testPicture()), -2);
    QCOMPARE(answerer.texts, QStringList({text + storage + "/" + name + ".jpg"}));
    QCOMPARE(child<QTableWidget>(*mWindow, "tableWidget")->rowCount(), 0);
    QCOMPARE(child<QLineEdit>(*mWindow, "mFileName")->text(), name);
    QCOMPARE(QDir(picturesFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"file"}));
}

void MainWindowSessionTest::captureWhileDisconnectedAsksNothing()
{
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1}, {"LANG_STR", 1}, {"KEY_STORAGE_PATH_STR", picturesFolder()}});
    buildWindow();
    BoxAnswerer answerer("Ok");
    child<QPushButton>(*mWindow, "mCaptureImageButton")->click();
    QCOMPARE(answerer.texts, QStringList({"Capture failed, The device is not connected!"}));
    QCOMPARE(child<QTableWidget>(*mWindow, "tableWidget")->rowCount(), 0);
}

void MainWindowSessionTest::settingsFileHoldsTheSixKeysAfterASession()
{
    buildWindow();
    const bool chineseSystem = QLocale::system().uiLanguages().contains("zh-CN");
    child<QComboBox>(*mWindow, "mConnectTypeComboBox")->setCurrentIndex(1);
    child<QSlider>(*mWindow, "brightnessSlider")->setValue(77);
    QCOMPARE(child<QLabel>(*mWindow, "currentBrightnessLabel")->text(), QString("77"));
    child<QCheckBox>(*mWindow, "autoIncrease")->click();
    {
        BoxAnswerer answerer("Escape");
        child<QAction>(*mWindow, chineseSystem ? "action_en_US" : "action_zh_CN")->trigger();
        QCOMPARE(answerer.texts, QStringList({chineseSystem
                                                  ? QString::fromUtf8("已经更改语言设置，重新打开软件后生效")
                                                  : "The language setting has been changed and the software is "
                                                    "turned on again"}));
    }
    // The running window keeps its language.
    QCOMPARE(child<QPushButton>(*mWindow, "mCaptureImageButton")->text(),
             chineseSystem ? QString::fromUtf8("拍  照") : QString("Capture"));
    const QString saveName = child<QLineEdit>(*mWindow, "mFileName")->text();
    mWindow.reset();

    QFile file(mScratch->filePath("applicaiton.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.takeFirst(), QString("[General]"));
    lines.sort();
    QVERIFY(QRegularExpression("^[0-9]{17}$").match(saveName).hasMatch());
    QCOMPARE(lines, QStringList({"BRIGHTNESS_STR=77", "KEY_CAMERA_TYPE_STR=1", "KEY_FILENAME_STR=" + saveName,
                                 "KEY_ID_AUTO_INC_STR=false",
                                 "KEY_STORAGE_PATH_STR=" +
                                     QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                                 QString("LANG_STR=%1").arg(chineseSystem ? 1 : 0)}));
}

void MainWindowSessionTest::storedBrightnessGoesOutAtStartUnless128_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("onModule");
    QTest::newRow("128 sends nothing") << 128 << 50;
    QTest::newRow("150 is sent once") << 150 << 150;
}

void MainWindowSessionTest::storedBrightnessGoesOutAtStartUnless128()
{
    QFETCH(int, stored);
    QFETCH(int, onModule);
    startSdkModule();
    startSecondModule();
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1}, {"BRIGHTNESS_STR", stored}});
    buildWindow();
    QVERIFY(brightnessSent());
    QCOMPARE(mSecondModule->state().device.params.brightness, onModule);
    QCOMPARE(child<QSlider>(*mWindow, "brightnessSlider")->value(), stored);
    QCOMPARE(child<QLabel>(*mWindow, "currentBrightnessLabel")->text(), QString::number(stored));
    QVERIFY(mSdkModule.sim->packets().empty());

    // Reset moves the slider to 170, which goes out and is stored.
    child<QAction>(*mWindow, "action_Reset")->trigger();
    QVERIFY(brightnessSent());
    QCOMPARE(mSecondModule->state().device.params.brightness, 170);
    QCOMPARE(settings().value("BRIGHTNESS_STR").toInt(), 170);
}

// The values go out from a thread and newer ones overtake those still
// waiting: the module must still end at the slider's last value.
void MainWindowSessionTest::sliderBurstLeavesTheModuleAtTheLastValue()
{
    startSecondModule();
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1}, {"BRIGHTNESS_STR", 128}});
    buildWindow();
    auto *slider = child<QSlider>(*mWindow, "brightnessSlider");
    for (int value = 0; value <= 250; value += 5)
        slider->setValue(value);
    slider->setValue(77);
    QVERIFY(brightnessSent());
    QCOMPARE(mSecondModule->state().device.params.brightness, 77);
    QCOMPARE(settings().value("BRIGHTNESS_STR").toInt(), 77);
}

void MainWindowSessionTest::chartKeeps359PointsOfFramesPerSecond()
{
    buildWindow();
    QtCharts::QLineSeries *series = fpsSeries(*mWindow);
    QVERIFY(series);
    QCOMPARE(series->count(), 0);
    const QList<QtCharts::QAbstractAxis *> axes = series->attachedAxes();
    QCOMPARE(axes.size(), 2);
    for (QtCharts::QAbstractAxis *axis : axes) {
        auto *values = qobject_cast<QtCharts::QValueAxis *>(axis);
        QVERIFY(values);
        const bool time = axis->orientation() == Qt::Horizontal;
        QCOMPARE(values->max(), time ? 360.0 : 20.0);
        QCOMPARE(values->min(), 0.0);
        QCOMPARE(values->titleText(), time ? QString::fromUtf8("时间(秒)") : QString::fromUtf8("帧速(FPS)"));
    }
    int shown = 0;
    for (int tick = 0; tick < 400; ++tick) {
        for (int frame = 0; frame < tick % 7; ++frame)
            QVERIFY(QMetaObject::invokeMethod(mWindow.get(), "displayImage", Qt::DirectConnection,
                                              Q_RETURN_ARG(int, shown), Q_ARG(QImage, testPicture())));
        QVERIFY(QMetaObject::invokeMethod(mWindow.get(), "onFPSTimeout", Qt::DirectConnection));
    }
    QCOMPARE(series->count(), 359);
    for (int i = 0; i < 359; ++i) {
        const int tick = 400 - 359 + i;
        QCOMPARE(series->at(i), QPointF(2 + i, tick % 7));
    }
}

void MainWindowSessionTest::rebootReconfiguresTheSecondModule()
{
    startSecondModule();
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1}});
    buildWindow();
    QTRY_VERIFY_WITH_TIMEOUT(secondModuleLinked(), kWaitMs);

    // Idle: nothing to reconfigure.
    child<QPushButton>(*mWindow, "pushButton_reboot")->click();
    QCOMPARE(mSecondModule->state().device.reboots, uint64_t(0));

    QVERIFY(connectWindow());
    child<QComboBox>(*mWindow, "comboBox_deviceType")->setCurrentIndex(1);
    child<QLineEdit>(*mWindow, "lineEdit_ssid")->setText("  probe-9 ");
    child<QPushButton>(*mWindow, "pushButton_reboot")->click();
    QTRY_COMPARE_WITH_TIMEOUT(mSecondModule->state().device.reboots, uint64_t(1), kWaitMs);
    QCOMPARE(mSecondModule->state().device.device_type, 0x1001);
    QCOMPARE(mSecondModule->state().device.ssid, std::string("probe-9"));
    // The source's stream ended, and the window with it.
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(*mWindow, "mConnectDeviceButton")->isVisible(), kWaitMs);
}

// Takes the URLs the window hands to the desktop.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler("file", this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("file"); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

void MainWindowSessionTest::filesAndFoldersOpenOnTheDesktop()
{
    writeSettings({{"LANG_STR", 1}, {"KEY_STORAGE_PATH_STR", picturesFolder()}, {"KEY_FILENAME_STR", "a b#1"}});
    buildWindow();
    QCOMPARE(store(testPicture()), 0);
    UrlCatcher catcher;

    auto *table = child<QTableWidget>(*mWindow, "tableWidget");
    for (int column = 0; column < 3; ++column)
        emit table->itemDoubleClicked(table->item(0, column));
    QCOMPARE(catcher.urls, QList<QUrl>({QUrl::fromLocalFile(picturesFolder() + "/a b#1.jpg")}));
    QVERIFY(QFileInfo::exists(catcher.urls[0].toLocalFile()));

    child<QAction>(*mWindow, "action_Save")->trigger();
    QCOMPARE(catcher.urls.value(1), QUrl::fromLocalFile(picturesFolder()));
    child<QAction>(*mWindow, "action_Manual")->trigger();
    QCOMPARE(catcher.urls.value(2).fileName(), QString("User_Manual_EN.pdf"));
}

void MainWindowSessionTest::cancelledFolderChoiceFallsBackToTheDefault()
{
    writeSettings({{"KEY_STORAGE_PATH_STR", picturesFolder()}});
    buildWindow();
    QCOMPARE(child<QLineEdit>(*mWindow, "mStoragePathText")->text(), picturesFolder());
    QTimer::singleShot(0, [] {
        if (QWidget *dialog = QApplication::activeModalWidget())
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    });
    child<QPushButton>(*mWindow, "mPathChoseButton")->click();
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    QCOMPARE(child<QLineEdit>(*mWindow, "mStoragePathText")->text(), pictures);
    QCOMPARE(settings().value("KEY_STORAGE_PATH_STR").toString(), pictures);
}

// Run by ctest once per system language list (LANGUAGE), with the language
// the window must start in.
void MainWindowSessionTest::startLanguageFollowsTheSystemList()
{
    if (!qEnvironmentVariableIsSet("KELVO_EXPECTED_LANGUAGE"))
        QSKIP("run by ctest with LANGUAGE and KELVO_EXPECTED_LANGUAGE set");
    const bool chinese = qEnvironmentVariable("KELVO_EXPECTED_LANGUAGE") == "0";
    buildWindow();
    QVERIFY(child<QAction>(*mWindow, "action_zh_CN")->isChecked() == chinese);
    QVERIFY(child<QAction>(*mWindow, "action_en_US")->isChecked() == !chinese);
    QCOMPARE(child<QPushButton>(*mWindow, "mConnectDeviceButton")->text(),
             chinese ? QString::fromUtf8("连  接") : QString("Connect"));
    // Only a choice from the menu is stored.
    QVERIFY(!settings().contains("LANG_STR"));
}

// The simulated probe films its fibre in the middle of the frame at a known
// scale: the zone circles must be drawn there, on the picture as shown.
void MainWindowSessionTest::zoneOverlayCirclesTheLiveFibre()
{
    const QSize frame(1280, 960);
    startSdkModule(5, frame.width(), frame.height());
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1}});
    buildWindow();
    QVERIFY(connectWindow());
    auto *video = child<VideoWidget>(*mWindow, "mVideoWidget");
    QTRY_VERIFY_WITH_TIMEOUT(!pictureIsBlack(*mWindow), kWaitMs);
    QCOMPARE(video->sizeHint(), frame);

    // Where the video widget puts the frame: shrunk to fit, centred.
    const QSize shown = frame.scaled(video->size(), Qt::KeepAspectRatio);
    const QPointF origin((video->width() - 1) / 2 - (shown.width() - 1) / 2,
                         (video->height() - 1) / 2 - (shown.height() - 1) / 2);
    const qreal scale = qreal(shown.width()) / frame.width();
    const QPointF centre = origin + QPointF(frame.width() / 2.0, frame.height() / 2.0) * scale;
    const double umPerPx = probesim::live_um_per_px(frame.width(), frame.height());
    const double zoneDiametersUm[] = {25, 115, 135, 250};
    // The points where each zone's circle crosses the axes through the centre.
    const auto circlePoints = [&](int zone) {
        const qreal radius = zoneDiametersUm[zone] / 2 / umPerPx * scale;
        return QList<QPointF>{centre + QPointF(radius, 0), centre - QPointF(radius, 0), centre + QPointF(0, radius),
                              centre - QPointF(0, radius)};
    };
    const auto circlesDrawn = [&](const QImage &shot) {
        for (int zone = 0; zone < 4; ++zone)
            for (const QPointF &point : circlePoints(zone))
                if (!colourNear(shot, point, zoneOverlayColour(zone), 3))
                    return false;
        return true;
    };
    QVERIFY(!circlesDrawn(video->grab().toImage()));

    auto *overlayAction = child<QAction>(*mWindow, "action_ZoneOverlay");
    overlayAction->trigger();
    QVERIFY(overlayAction->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(circlesDrawn(video->grab().toImage()), kWaitMs);
    // The fibre was measured, so the corner gives a verdict, not a refusal.
    const QColor corner(video->grab().toImage().pixel((origin + QPointF(8, 8)).toPoint()));
    QVERIFY2(corner == overlayVerdictColour(ZoneOverlay::Pass) || corner == overlayVerdictColour(ZoneOverlay::Fail),
             qPrintable(corner.name()));
    // The overlay follows the stream: it keeps coming as frames do.
    QTRY_VERIFY_WITH_TIMEOUT(circlesDrawn(video->grab().toImage()), kWaitMs);

    overlayAction->trigger();
    QVERIFY(!overlayAction->isChecked());
    QVERIFY(video->overlay().isNull());
    QVERIFY(!circlesDrawn(video->grab().toImage()));
    // A result still on its way is not shown either.
    QTest::qWait(500);
    QVERIFY(video->overlay().isNull());

    // On again, then the stream ends: the picture clears with its marks.
    overlayAction->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!video->overlay().isNull(), kWaitMs);
    child<QPushButton>(*mWindow, "mDisconnectDeviceButton")->click();
    QVERIFY(video->overlay().isNull());
    QVERIFY(pictureIsBlack(*mWindow));
}

void MainWindowSessionTest::inspectingTheNewestCaptureShowsItAndReportsBesideIt()
{
    startSdkModule(5, 1280, 960);
    writeSettings({{"KEY_CAMERA_TYPE_STR", 1},
                   {"LANG_STR", 1},
                   {"KEY_STORAGE_PATH_STR", picturesFolder()},
                   {"KEY_FILENAME_STR", "face1"},
                   {"KEY_ID_AUTO_INC_STR", true}});
    buildWindow();
    auto *inspect = child<QAction>(*mWindow, "action_InspectCapture");
    {
        BoxAnswerer answerer("Ok");
        inspect->trigger();
        QCOMPARE(answerer.texts, QStringList({"No capture to inspect, please capture a picture first!"}));
    }

    QVERIFY(connectWindow());
    QTRY_VERIFY_WITH_TIMEOUT(!pictureIsBlack(*mWindow), kWaitMs);
    auto *table = child<QTableWidget>(*mWindow, "tableWidget");
    for (int capture = 1; capture <= 2; ++capture) {
        child<QPushButton>(*mWindow, "mCaptureImageButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), capture, kWaitMs);
    }
    // The second capture is the newest; the first is left alone.
    const QString picture = picturesFolder() + "/face2.jpg";
    const QByteArray before = fileHash(picture);
    QVERIFY(!before.isEmpty());

    auto *dialog = child<QDialog>(*mWindow, "InspectionDialog");
    QVERIFY(!dialog->isVisible());
    inspect->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), kWaitMs);
    QVERIFY(inspect->isEnabled());
    const QString verdict = child<QLabel>(*dialog, "mVerdictLabel")->text();
    QVERIFY2(verdict == "face2.jpg  PASS" || verdict == "face2.jpg  FAIL", qPrintable(verdict));
    QVERIFY(!child<QLabel>(*dialog, "mImageLabel")->pixmap(Qt::ReturnByValue).isNull());
    auto *zones = child<QTableWidget>(*dialog, "mZoneTable");
    QCOMPARE(zones->rowCount(), 4);
    QCOMPARE(zones->item(1, 0)->text(), QString("B cladding"));
    QCOMPARE(zones->item(1, 1)->text(), QString("25 - 115"));
    QCOMPARE(child<QLabel>(*dialog, "mReportLabel")->text(), "Report: " + picturesFolder() + "/face2.inspect.html");

    QCOMPARE(fileHash(picture), before);
    QCOMPARE(QDir(picturesFolder()).entryList(QDir::Files),
             QStringList({"face1.jpg", "face2.inspect.html", "face2.inspect.png", "face2.jpg"}));
    QImage annotated;
    QVERIFY(annotated.load(picturesFolder() + "/face2.inspect.png", "PNG"));
    QCOMPARE(annotated.size(), QSize(1280, 960));
    QFile page(picturesFolder() + "/face2.inspect.html");
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray html = page.readAll();
    QVERIFY(html.contains("face2.jpg"));
    QVERIFY(html.contains(verdict.endsWith("PASS") ? "class=\"verdict pass\"" : "class=\"verdict fail\""));
    dialog->close();

    // A report that cannot be written is said so; the capture stays as it was.
    QFile::remove(picturesFolder() + "/face2.inspect.png");
    QVERIFY(QDir().mkpath(picturesFolder() + "/face2.inspect.png"));
    inspect->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), kWaitMs);
    const QString failure = child<QLabel>(*dialog, "mReportLabel")->text();
    QVERIFY2(failure.startsWith("The report was not written: ") && failure.contains("face2.inspect.png"),
             qPrintable(failure));
    QCOMPARE(fileHash(picture), before);
}

QTEST_MAIN(MainWindowSessionTest)
#include "mainwindow_session_test.moc"
