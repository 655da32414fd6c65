#include "mainwindow.h"

#include "about.h"
#include "captureinspection.h"
#include "capturefiles.h"
#include "frametrace.h"
#include "inspectiondialog.h"
#include "liveinspector.h"
#include "settingsfile.h"
#include "mlbrightnesssender.h"
#include "mlnetcamera.h"
#include "netcamera.h"
#include "ui_mainwindow.h"
#include "usbcamera.h"
#include "usermanual.h"

#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

using namespace KelvoWifi;
using namespace QtCharts;

namespace {

const char *const kButtonStyleSheet =
    "QPushButton{color:white; background-color: rgb(0, 0, 86); border-style:outset; border-width:1px; border-color:beige;}"
    "QPushButton:hover{color:white; background-color: rgb(120,150,150); border-style: outset;}"
    "QPushButton:pressed{background-color: rgb(255, 255, 255); border-style: inset;}";

const char *const kStoragePathKey = "KEY_STORAGE_PATH_STR";
const char *const kLanguageKey = "LANG_STR";
const char *const kCameraTypeKey = "KEY_CAMERA_TYPE_STR";
const char *const kBrightnessKey = "BRIGHTNESS_STR";
const char *const kFileNameKey = "KEY_FILENAME_STR";
const char *const kAutoIncreaseKey = "KEY_ID_AUTO_INC_STR";

const int kDefaultBrightness = 170;
const int kUsb = 0;
const int kWifi = 1;
const int kEnglish = 1;
const int kRequestedWidth = 960;
// Used when a source cannot tell its own height: 4:3 with the width.
const int kFallbackHeight = 720;
const int kFirstDeviceType = 0x1000;
const int kFpsTickMs = 1000;

// The form names the Windows UI font both ways. Where it is missing, map it
// to a CJK family with similar metrics before any widget resolves its font;
// otherwise Qt picks a Latin family and, with only some CJK fonts installed,
// Japanese glyph shapes.
void substituteWindowsUiFont()
{
    const QStringList cjkFamilies = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC"};
    QFont::insertSubstitutions("Microsoft YaHei UI", cjkFamilies);
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"), cjkFamilies);
}

// Restores the cursor however the blocking step ends.
class WaitCursor
{
public:
    WaitCursor()
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        // Let the new cursor reach the screen before the GUI thread blocks.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    ~WaitCursor() { restore(); }
    void restore()
    {
        if (mActive)
            QApplication::restoreOverrideCursor();
        mActive = false;
    }

private:
    bool mActive = true;
};

} // namespace

MainWindow::MainWindow()
    : QMainWindow(nullptr)
    , ui(new Ui::MainWindow)
    , mConnected(false)
    , mUsbCamera(nullptr)
    , mNetCamera(nullptr)
    , mMlCamera(nullptr)
    , mMlBrightnessSender(nullptr)
    , mCameraType(0)
    , mAbout(nullptr)
    , mSettings(nullptr)
    , mFrameCount(0)
    , mLastFrameCount(0)
    , mFpsTimer(this)
    , mLanguage(0)
    , mInitialized(false)
    , mSettingsProblemTold(false)
    , mLanguageGroup(nullptr)
    , mChart(nullptr)
    , mChartView(nullptr)
    , mSeries(nullptr)
    , mChartSpan(0)
    , mLiveInspector(nullptr)
    , mInspectionDialog(nullptr)
    , mCaptureInspection(nullptr)
{
    mFpsTimer.setObjectName(QStringLiteral("mFpsTimer"));
    substituteWindowsUiFont();
    ui->setupUi(this);

    ui->tableWidget->verticalHeader()->hide();
    ui->tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->tableWidget->setColumnWidth(0, 75);
    ui->tableWidget->setColumnWidth(1, 300);
    ui->tableWidget->setColumnWidth(2, 80);
    ui->tableWidget->setColumnHidden(3, true);

    mLanguageGroup = new QActionGroup(this);
    mLanguageGroup->setExclusive(true);
    for (QAction *action : {ui->action_zh_CN, ui->action_en_US}) {
        action->setCheckable(true);
        mLanguageGroup->addAction(action);
    }

    // Relative: each working directory has its own settings.
    mSettings = new QSettings(QStringLiteral("./applicaiton.ini"), QSettings::IniFormat);
    const bool unreadableSettings = keepUnreadableSettings(*mSettings);

    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(43, 60, 145, 255)));
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::white));
    setPalette(palette);

    mResolution.width = kRequestedWidth;
    mResolution.height = kFallbackHeight;

    mUsbCamera = new USBCamera();
    mNetCamera = new NetCamera();
    mMlCamera = new MlNetCamera();
    mMlBrightnessSender = new MlBrightnessSender(this);
    mMlBrightnessSender->setObjectName(QStringLiteral("mMlBrightnessSender"));

    mAbout = new About();
    mAbout->setModal(true);

    // Before the language is applied: the dialog's fixed texts follow it.
    mInspectionDialog = new InspectionDialog(this);
    mLiveInspector = new LiveInspector(this);
    connect(mLiveInspector, &LiveInspector::overlayReady, this, &MainWindow::onOverlayReady);
    mCaptureInspection = new QFutureWatcher<CaptureInspection>(this);
    connect(mCaptureInspection, &QFutureWatcherBase::finished, this, &MainWindow::onCaptureInspected);

    setStoragePath(mSettings->value(kStoragePathKey, QString()).toString());
    ui->mStoragePathText->setText(mStoragePath);
    ui->mStoragePathText->setFocusPolicy(Qt::NoFocus);

    // Exactly "zh-CN": other spellings of Chinese start in English.
    const int defaultLanguage = QLocale::system().uiLanguages().contains(QStringLiteral("zh-CN")) ? 0 : kEnglish;
    mLanguage = boundedSetting(*mSettings, kLanguageKey, defaultLanguage, 0, kEnglish);
    applyLanguage(mLanguage);

    mCameraType = boundedSetting(*mSettings, kCameraTypeKey, kUsb, kUsb, kWifi);
    ui->mConnectTypeComboBox->setCurrentIndex(mCameraType);
    onConnectTypeComboBox_currentIndexChanged(mCameraType);
    connect(ui->mConnectTypeComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::onConnectTypeComboBox_currentIndexChanged);

    loadBrightness();

    for (QPushButton *button : {ui->mPathChoseButton, ui->mConnectDeviceButton, ui->mDisconnectDeviceButton,
                                ui->mCaptureImageButton})
        button->setStyleSheet(kButtonStyleSheet);

    connect(&mFpsTimer, &QTimer::timeout, this, &MainWindow::onFPSTimeout);

    updateConnectButtons(false);
    mInitialized = true;

    ui->mFileName->setText(
        mSettings->value(kFileNameKey, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz")))
            .toString());
    ui->autoIncrease->setChecked(mSettings->value(kAutoIncreaseKey, true).toBool());

    if (unreadableSettings)
        tellSettingsProblem(QStringLiteral("The settings file ./applicaiton.ini could not be read; it is kept as "
                                           "./applicaiton.ini.bad and the default settings are used."),
                            QStringLiteral("无法读取设置文件 ./applicaiton.ini，已保留为 ./applicaiton.ini.bad，"
                                           "现使用默认设置。"));

    createFpsChart();
}

MainWindow::~MainWindow()
{
    disconnectDevice(mCameraType);
    delete mUsbCamera;
    mUsbCamera = nullptr;
    delete mNetCamera;
    mNetCamera = nullptr;
    delete mMlCamera;
    mMlCamera = nullptr;
    delete mSettings;
    mSettings = nullptr;
    delete mAbout;
    mAbout = nullptr;
    delete ui;
}

// --- Connection -----------------------------------------------------------

void MainWindow::on_mConnectDeviceButton_clicked()
{
    if (mConnected)
        return;
    if (connectDevice(mCameraType) != 0)
        return;
    mConnected = true;
    updateConnectButtons(true);
}

void MainWindow::on_mDisconnectDeviceButton_clicked()
{
    if (!mConnected)
        return;
    disconnectDevice(mCameraType);
    mConnected = false;
    updateConnectButtons(false);
}

int MainWindow::storedBrightness() const
{
    return boundedSetting(*mSettings, kBrightnessKey, kDefaultBrightness, 0, 255);
}

int MainWindow::connectDevice(int deviceType)
{
    // Finding and opening a device blocks the GUI thread for up to a few
    // seconds; the cursor says the window is busy, not hung.
    WaitCursor waiting;
    const int brightness = storedBrightness();
    AbstractCamera *camera = nullptr;
    if (deviceType == kUsb) {
        const int index = mUsbCamera->scan();
        if (index == CameraNoDevice) {
            waiting.restore();
            showInfoBox(mLanguage == 0 ? QStringLiteral("打开设备失败，请检查连接状态或更换连接方式!")
                                       : QStringLiteral("Open device failure, please check connection status or "
                                                        "replace connection method!"));
            return -3;
        }
        mUsbCamera->connect(index);
        camera = mUsbCamera;
    } else if (mMlCamera->open() == 0) {
        // open() has started the stream already.
        MlNetCamera::setCameraParams(brightness, MlBrightnessSender::kContrast, 0, 0, nullptr, 0);
    } else {
        if (mNetCamera->connect(0) != 0) {
            waiting.restore();
            showInfoBox(mLanguage == 0 ? QStringLiteral("打开设备失败，请检查连接状态或更换连接方式!")
                                       : QStringLiteral("Open device failure, please check connection status or "
                                                        "replace connection method!"));
            return -3;
        }
        camera = mNetCamera;
    }
    if (camera) {
        camera->setBrightness(static_cast<float>(brightness));
        // Keep the source's own height: the width alone is requested.
        int size[2] = {0, 0};
        if (camera->getResolution(size) == CameraOk && size[1] > 0)
            mResolution.height = size[1];
        camera->setResolution(mResolution.width, mResolution.height, mResolution.third, mResolution.fourth);
        camera->setStreaming(true);
    }

    connectSources();
    mConnected = true;
    mFpsTimer.start(kFpsTickMs);
    ui->mConnectTypeComboBox->setEnabled(false);
    updateConnectButtons(true);
    return 0;
}

void MainWindow::connectSources()
{
    connect(mUsbCamera, &USBCamera::videoCaptured, this, &MainWindow::onVideoCaptured);
    connect(mUsbCamera, &USBCamera::imageCaptured, this, &MainWindow::onImageCaptured);
    connect(mNetCamera, &NetCamera::videoCaptured, this, &MainWindow::onVideoCaptured);
    connect(mNetCamera, &NetCamera::imageCaptured, this, &MainWindow::onImageCaptured);
    connect(mMlCamera, &MlNetCamera::videoCaptured, this, &MainWindow::onVideoCaptured);
    connect(mMlCamera, &MlNetCamera::imageCaptured, this, &MainWindow::onImageCaptured);
}

void MainWindow::disconnectSources()
{
    disconnect(mUsbCamera, &USBCamera::videoCaptured, this, &MainWindow::onVideoCaptured);
    disconnect(mUsbCamera, &USBCamera::imageCaptured, this, &MainWindow::onImageCaptured);
    disconnect(mNetCamera, &NetCamera::videoCaptured, this, &MainWindow::onVideoCaptured);
    disconnect(mNetCamera, &NetCamera::imageCaptured, this, &MainWindow::onImageCaptured);
    disconnect(mMlCamera, &MlNetCamera::videoCaptured, this, &MainWindow::onVideoCaptured);
    disconnect(mMlCamera, &MlNetCamera::imageCaptured, this, &MainWindow::onImageCaptured);
}

int MainWindow::disconnectDevice(int deviceType)
{
    mFpsTimer.stop();
    mFrameCount = 0;
    mLastFrameCount = 0;
    disconnectSources();
    if (deviceType == kUsb) {
        mUsbCamera->setStreaming(false);
        mUsbCamera->disconnect();
    } else {
        mMlCamera->stop();
        mNetCamera->setStreaming(false);
        mNetCamera->disconnect();
    }
    mConnected = false;
    mLiveInspector->reset();
    ui->mVideoWidget->clearOverlay();
    displayImage(QImage());
    ui->mConnectTypeComboBox->setEnabled(true);
    updateConnectButtons(false);
    return 0;
}

void MainWindow::onVideoCaptured(int captureId, QImage image)
{
    if (FrameTrace::enabled())
        FrameTrace::received(captureId);
    // A frame queued before the disconnect must not repaint the cleared picture.
    if (!mConnected)
        return;
    displayImage(image);
    if (ui->action_ZoneOverlay->isChecked())
        mLiveInspector->submit(image);
    if (captureId == -1)
        disconnectDevice(mCameraType);
}

int MainWindow::displayImage(QImage image)
{
    ui->mVideoWidget->presentImage(image);
    ++mFrameCount;
    return 0;
}

void MainWindow::onConnectTypeComboBox_currentIndexChanged(int index)
{
    mCameraType = index;
    storeSetting(kCameraTypeKey, index);
    ui->mConnectTypeComboBox->setCurrentIndex(index);
}

void MainWindow::updateConnectButtons(bool connected)
{
    ui->mConnectDeviceButton->setVisible(!connected);
    ui->mDisconnectDeviceButton->setVisible(connected);
}

void MainWindow::showInfoBox(const QString &text)
{
    QMessageBox box(QMessageBox::Information, QString(), text, QMessageBox::NoButton);
    box.addButton(mLanguage == kEnglish ? QStringLiteral("Ok") : QStringLiteral("确认"), QMessageBox::AcceptRole);
    box.setModal(true);
    box.exec();
}

int MainWindow::askConfirm(const QString &text)
{
    QMessageBox box(QMessageBox::Information, QString(), text, QMessageBox::NoButton);
    QPushButton *confirm =
        box.addButton(mLanguage == kEnglish ? QStringLiteral("Ok") : QStringLiteral("确认"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(mLanguage == kEnglish ? QStringLiteral("Cancel") : QStringLiteral("取消"),
                                        QMessageBox::RejectRole);
    box.setEscapeButton(cancel);
    box.setModal(true);
    box.exec();
    return box.clickedButton() == confirm ? 0 : 1;
}

// --- Capture and storage --------------------------------------------------

void MainWindow::on_mCaptureImageButton_clicked()
{
    if (!mConnected) {
        showInfoBox(mLanguage == kEnglish ? QStringLiteral("Capture failed, The device is not connected!")
                                          : QStringLiteral("拍照失败，设备未连接!"));
        return;
    }
    setStoragePath(ui->mStoragePathText->text());
    if (mCameraType == kUsb) {
        mUsbCamera->capture();
    } else {
        // Only the source that streams answers.
        mNetCamera->capture();
        mMlCamera->requestCapture();
    }
}

void MainWindow::onImageCaptured(int captureId, QImage image)
{
    Q_UNUSED(captureId)
    storageImage(image);
}

int MainWindow::storageImage(QImage image)
{
    if (mStoragePath.endsWith(QLatin1Char('/')))
        mStoragePath.chop(1);
    const QString path = buildCaptureFilePath(mStoragePath, ui->mFileName->text(), QDateTime::currentDateTime());
    if (path.isEmpty())
        return -1;
    if (QFileInfo::exists(path)) {
        const QString question = mLanguage == kEnglish
                                     ? QStringLiteral("File:") + path + QStringLiteral("already exists, is it covered?")
                                     : QStringLiteral("文件：") + path + QStringLiteral("已经存在, 是否覆盖？");
        if (askConfirm(question) == 1)
            return -1;
    }
    if (!writeJpeg(image, path)) {
        // Nothing was stored: no row, and the save name stays for the next try.
        showInfoBox(mLanguage == kEnglish
                        ? QStringLiteral("Save picture failed, please check the save path: ") + path
                        : QStringLiteral("保存图片失败，请检查保存路径：") + path);
        return -2;
    }
    const QString saveName = ui->mFileName->text().trimmed();
    if (ui->autoIncrease->isChecked() && !saveName.isEmpty())
        ui->mFileName->setText(nextFileName(saveName));
    addCaptureRow(path);
    return 0;
}

void MainWindow::addCaptureRow(const QString &path)
{
    QTableWidget *table = ui->tableWidget;
    table->insertRow(0);
    const QFileInfo file(path);
    const QStringList cells = {QString::number(table->rowCount()), file.fileName(),
                               QString::number(file.size() / 1024.0, 'f', 2) + QStringLiteral("KB"), path};
    for (int column = 0; column < cells.size(); ++column) {
        auto *item = new QTableWidgetItem(cells[column]);
        if (column == 0 || column == 2)
            item->setTextAlignment(Qt::AlignCenter);
        table->setItem(0, column, item);
    }
}

void MainWindow::setStoragePath(const QString &path)
{
    mStoragePath = path.isEmpty() ? defaultStoragePath() : path;
    storeSetting(kStoragePathKey, mStoragePath);
}

void MainWindow::on_mPathChoseButton_clicked()
{
    QString folder = QFileDialog::getExistingDirectory(this, QString(), nativeDefaultStoragePath(),
                                                       QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (folder.isEmpty())
        folder = defaultStoragePath();
    setStoragePath(folder);
    ui->mStoragePathText->setText(mStoragePath);
}

void MainWindow::on_tableWidget_itemDoubleClicked(QTableWidgetItem *item)
{
    if (!item || !item->tableWidget() || item->column() != 1)
        return;
    const QTableWidgetItem *pathItem = item->tableWidget()->item(item->row(), 3);
    if (!pathItem)
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(pathItem->text()));
}

void MainWindow::on_action_Save_triggered()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(mStoragePath));
}

// --- Settings, language and brightness ------------------------------------

void MainWindow::applyLanguage(int language)
{
    if (language != 0) {
        // Only the texts set now are translated, so the catalogue need not
        // stay installed afterwards.
        QTranslator english;
        if (english.load(QStringLiteral(":/en_US.qm"))) {
            QCoreApplication::installTranslator(&english);
            ui->retranslateUi(this);
            mInspectionDialog->retranslate();
            QCoreApplication::removeTranslator(&english);
        } else {
            qWarning("The English catalogue is missing from the program's resources");
        }
        ui->action_en_US->setChecked(true);
    } else {
        ui->action_zh_CN->setChecked(true);
    }
    updateConnectButtons(false);
}

void MainWindow::changeLanguage(int language)
{
    if (!mInitialized)
        return;
    // In the running window's language: the new one applies at the next start.
    showInfoBox(mLanguage == kEnglish
                    ? QStringLiteral("The language setting has been changed and the software is turned on again")
                    : QStringLiteral("已经更改语言设置，重新打开软件后生效"));
    storeSetting(kLanguageKey, language);
}

void MainWindow::on_action_zh_CN_triggered()
{
    changeLanguage(0);
}

void MainWindow::on_action_en_US_triggered()
{
    changeLanguage(kEnglish);
}

void MainWindow::loadBrightness()
{
    const int value = storedBrightness();
    ui->brightnessSlider->setValue(value);
    ui->currentBrightnessLabel->setText(QString::number(value));
}

void MainWindow::on_brightnessSlider_valueChanged(int value)
{
    if (mCameraType != kUsb) {
        mNetCamera->setBrightness(static_cast<float>(value));
        mMlBrightnessSender->send(value);
    } else {
        mUsbCamera->setBrightness(static_cast<float>(value));
    }
    storeSetting(kBrightnessKey, value);
    ui->currentBrightnessLabel->setText(QString::number(value));
}

void MainWindow::on_action_Reset_triggered()
{
    storeSetting(kBrightnessKey, kDefaultBrightness);
    loadBrightness();
}

void MainWindow::on_mFileName_textChanged(const QString &arg1)
{
    storeSetting(kFileNameKey, arg1);
}

void MainWindow::on_autoIncrease_clicked(bool checked)
{
    storeSetting(kAutoIncreaseKey, checked);
}

void MainWindow::storeSetting(const char *key, const QVariant &value)
{
    mSettings->setValue(key, value);
    mSettings->sync();
    if (mSettings->status() == QSettings::AccessError)
        tellSettingsProblem(QStringLiteral("The settings file ./applicaiton.ini cannot be written: changes are kept "
                                           "only until the program ends."),
                            QStringLiteral("无法写入设置文件 ./applicaiton.ini：更改只保留到程序关闭。"));
}

void MainWindow::tellSettingsProblem(const QString &english, const QString &chinese)
{
    if (mSettingsProblemTold)
        return;
    mSettingsProblemTold = true;
    // Once the window is up: the first write may come from the constructor.
    QTimer::singleShot(0, this, [this, english, chinese] { showInfoBox(mLanguage == kEnglish ? english : chinese); });
}

void MainWindow::on_action_Manual_triggered()
{
    QDesktopServices::openUrl(userManualUrl(mLanguage));
}

void MainWindow::on_action_About_triggered()
{
    mAbout->show();
}

void MainWindow::on_action_Exit_triggered()
{
    QCoreApplication::exit(0);
}

// --- Device page and frame-rate chart -------------------------------------

void MainWindow::createFpsChart()
{
    mChart = new QChart();
    mSeries = new QLineSeries();
    mChartSpan = 360;
    mSeries->append(mPoints);
    mChart->legend()->hide();
    mChart->addSeries(mSeries);

    const auto makeAxis = [this](qreal max, const QString &title) {
        auto *axis = new QValueAxis();
        axis->setRange(0, max);
        axis->setLabelFormat(QStringLiteral("%u"));
        axis->setGridLineVisible(true);
        axis->setTickCount(10);
        axis->setMinorTickCount(2);
        axis->setTitleText(title);
        return axis;
    };
    const auto attach = [this](QValueAxis *axis, Qt::Alignment side) {
        mChart->addAxis(axis, side);
        mSeries->attachAxis(axis);
    };
    attach(makeAxis(mChartSpan, QStringLiteral("时间(秒)")), Qt::AlignBottom);
    attach(makeAxis(20, QStringLiteral("帧速(FPS)")), Qt::AlignLeft);

    mChartView = new QChartView(mChart);
    mChartView->setRenderHint(QPainter::Antialiasing);
    auto *layout = new QVBoxLayout(ui->widget_fps);
    layout->addWidget(mChartView);
}

void MainWindow::onFPSTimeout()
{
    const int fps = mFrameCount - mLastFrameCount;
    mLastFrameCount = mFrameCount;
    updateFpsChart(fps);
}

void MainWindow::updateFpsChart(int fps)
{
    for (QPointF &point : mPoints)
        point.setX(point.x() - 1.0);
    mPoints.append(QPointF(mChartSpan, fps));
    if (mPoints.size() >= mChartSpan)
        mPoints.removeFirst();
    mSeries->replace(mPoints);
}

void MainWindow::on_pushButton_reboot_clicked()
{
    // Only a module of the second kind, streaming now, can be reconfigured.
    if (!mMlCamera->isRunning())
        return;
    MlNetCamera::setDeviceType(kFirstDeviceType + ui->comboBox_deviceType->currentIndex());
    const QString ssid = ui->lineEdit_ssid->text().trimmed();
    if (!ssid.isEmpty())
        MlNetCamera::setSsid(ssid);
    mMlCamera->reboot();
}

// --- End-face inspection --------------------------------------------------

void MainWindow::on_action_ZoneOverlay_toggled(bool checked)
{
    if (checked)
        return;
    mLiveInspector->reset();
    ui->mVideoWidget->clearOverlay();
}

void MainWindow::onOverlayReady(const ZoneOverlay &overlay)
{
    // A result that arrives after the stream ended must not mark the black picture.
    if (mConnected && ui->action_ZoneOverlay->isChecked())
        ui->mVideoWidget->setOverlay(overlay);
}

void MainWindow::on_action_InspectCapture_triggered()
{
    if (mCaptureInspection->isRunning())
        return;
    const QTableWidgetItem *newest = ui->tableWidget->rowCount() > 0 ? ui->tableWidget->item(0, 3) : nullptr;
    if (!newest) {
        showInfoBox(mLanguage == kEnglish ? QStringLiteral("No capture to inspect, please capture a picture first!")
                                          : QStringLiteral("没有可检测的照片，请先拍照!"));
        return;
    }
    ui->action_InspectCapture->setEnabled(false);
    mCaptureInspection->setFuture(QtConcurrent::run(inspectCapture, newest->text()));
}

void MainWindow::onCaptureInspected()
{
    ui->action_InspectCapture->setEnabled(true);
    mInspectionDialog->showInspection(mCaptureInspection->result(), mLanguage);
}
