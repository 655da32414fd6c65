#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPointF>
#include <QTimer>
#include <QVariant>

class About;
class InspectionDialog;
class LiveInspector;
class QActionGroup;
struct CaptureInspection;
struct ZoneOverlay;
class QSettings;
class QTableWidgetItem;

namespace QtCharts {
class QChart;
class QChartView;
class QLineSeries;
}

namespace KelvoWifi {
class MlBrightnessSender;
class MlNetCamera;
class NetCamera;
class USBCamera;
}

namespace Ui {
class MainWindow;
}

// The viewer's only window: the live picture on the left, the capture panel
// on the right. It owns the three camera sources and connects one at a time.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

private slots:
    void onFPSTimeout();
    void onImageCaptured(int captureId, QImage image);
    void onVideoCaptured(int captureId, QImage image);
    // 0 stored and listed; -1 not stored: no path, or overwriting declined;
    // -2 the write failed (the user has been told).
    int storageImage(QImage image);
    int displayImage(QImage image);
    int disconnectDevice(int deviceType);
    void on_mCaptureImageButton_clicked();
    void on_mConnectDeviceButton_clicked();
    void on_mDisconnectDeviceButton_clicked();
    void on_mPathChoseButton_clicked();
    void onConnectTypeComboBox_currentIndexChanged(int index);
    void on_tableWidget_itemDoubleClicked(QTableWidgetItem *item);
    void on_brightnessSlider_valueChanged(int value);
    void on_action_Exit_triggered();
    void on_action_Save_triggered();
    void on_action_Manual_triggered();
    void on_action_About_triggered();
    void on_action_zh_CN_triggered();
    void on_action_en_US_triggered();
    void on_action_Reset_triggered();
    void on_pushButton_reboot_clicked();
    void on_mFileName_textChanged(const QString &arg1);
    void on_autoIncrease_clicked(bool checked);
    void on_action_ZoneOverlay_toggled(bool checked);
    void on_action_InspectCapture_triggered();
    void onOverlayReady(const ZoneOverlay &overlay);
    void onCaptureInspected();

private:
    // Width, height, and two values the sources do not read.
    struct Resolution {
        int width = 0;
        int height = 0;
        int third = 0;
        int fourth = 0;
    };

    int connectDevice(int deviceType);
    void connectSources();
    void disconnectSources();
    void updateConnectButtons(bool connected);
    void showInfoBox(const QString &text);
    // 0 confirmed, 1 cancelled (Escape too).
    int askConfirm(const QString &text);
    void applyLanguage(int language);
    void changeLanguage(int language);
    void loadBrightness();
    int storedBrightness() const;
    // Writes one setting at once; the first write in a run that fails says so.
    void storeSetting(const char *key, const QVariant &value);
    void tellSettingsProblem(const QString &english, const QString &chinese);
    void setStoragePath(const QString &path);
    void addCaptureRow(const QString &path);
    void createFpsChart();
    void updateFpsChart(int fps);

    Ui::MainWindow *ui;
    Resolution mResolution;
    bool mConnected;
    KelvoWifi::USBCamera *mUsbCamera;
    KelvoWifi::NetCamera *mNetCamera;
    KelvoWifi::MlNetCamera *mMlCamera;
    // The slider's brightness for the second kind of module, sent off the GUI thread.
    KelvoWifi::MlBrightnessSender *mMlBrightnessSender;
    int mCameraType;
    QString mStoragePath;
    About *mAbout;
    QSettings *mSettings;
    int mFrameCount;
    int mLastFrameCount;
    QTimer mFpsTimer;
    int mLanguage;
    bool mInitialized;
    bool mSettingsProblemTold;
    QActionGroup *mLanguageGroup;
    QtCharts::QChart *mChart;
    QtCharts::QChartView *mChartView;
    QtCharts::QLineSeries *mSeries;
    int mChartSpan;
    QList<QPointF> mPoints;
    LiveInspector *mLiveInspector;
    InspectionDialog *mInspectionDialog;
    QFutureWatcher<CaptureInspection> *mCaptureInspection;
};
