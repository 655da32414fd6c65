// The window's form in both languages, offscreen at its start size: the
// panel geometry, the texts, the names the window's slots connect by, the
// fonts and the button style.
#include "about.h"
#include "mainwindow.h"
#include "videowidget.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <memory>

namespace {

const int kChinese = 0;
const int kEnglish = 1;

template <typename T>
T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

// The text a key names: "object" for a widget's or action's own text or
// title, "object/N" for item N of a combo box or the header of column N of
// a table, "window" for the title.
QString shownText(QMainWindow &window, const QString &key)
{
    if (key == "window")
        return window.windowTitle();
    const QString name = key.section('/', 0, 0);
    QObject *object = window.findChild<QObject *>(name);
    if (!object)
        return "<no object " + name + ">";
    if (key.contains('/')) {
        const int index = key.section('/', 1).toInt();
        if (auto *combo = qobject_cast<QComboBox *>(object))
            return combo->itemText(index);
        if (auto *table = qobject_cast<QTableWidget *>(object))
            return table->horizontalHeaderItem(index)->text();
    }
    if (auto *menu = qobject_cast<QMenu *>(object))
        return menu->title();
    if (auto *box = qobject_cast<QGroupBox *>(object))
        return box->title();
    if (auto *action = qobject_cast<QAction *>(object))
        return action->text();
    return object->property("text").toString();
}

QString whiteSpan(const QString &text)
{
    return "<html><head/><body><p><span style=\" color:#ffffff;\">" + text + "</span></p></body></html>";
}

QString white12Span(const QString &text)
{
    return "<html><head/><body><p><span style=\" font-size:12pt; color:#ffffff;\">" + text + "</span></p></body></html>";
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void panelIsFixedAndVideoTakesTheRest_data();
    void panelIsFixedAndVideoTakesTheRest();
    void largeFrameKeepsTheLayout();
    void texts_data();
    void texts();
    void slotObjectsExist_data();
    void slotObjectsExist();
    void menusHoldActionsInOrder();
    void connectButtonsOverlapAndOneShows();
    void buttonsAndWindowAreStyled();
    void uiFontsResolveToCjkFamily();
    void aboutKeepsItsTextsUnderEnglish();
    void catalogueHoldsUnusedEntries();

private:
    MainWindow &window(int language) { return *mWindows[language]; }
    QTemporaryDir mScratch;
    std::unique_ptr<MainWindow> mWindows[2];
};

void MainWindowTest::initTestCase()
{
    // The window reads its language from the settings file in the working
    // directory: one scratch folder per language.
    QVERIFY(mScratch.isValid());
    for (int language : {kChinese, kEnglish}) {
        const QString folder = mScratch.path() + "/" + QString::number(language);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QDir::setCurrent(folder));
        QSettings(QStringLiteral("./applicaiton.ini"), QSettings::IniFormat).setValue("LANG_STR", language);
        mWindows[language] = std::make_unique<MainWindow>();
        mWindows[language]->show();
        QVERIFY(QTest::qWaitForWindowExposed(mWindows[language].get()));
    }
}

void MainWindowTest::panelIsFixedAndVideoTakesTheRest_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QSize>("windowSize");
    QTest::newRow("Chinese, start size") << kChinese << QSize(1400, 900);
    QTest::newRow("English, start size") << kEnglish << QSize(1400, 900);
    QTest::newRow("Chinese, larger") << kChinese << QSize(1700, 1000);
    QTest::newRow("English, larger") << kEnglish << QSize(1700, 1000);
}

void MainWindowTest::panelIsFixedAndVideoTakesTheRest()
{
    QFETCH(int, language);
    QFETCH(QSize, windowSize);
    MainWindow &w = window(language);
    if (windowSize != QSize(1400, 900))
        w.resize(windowSize);
    QCoreApplication::processEvents();

    QCOMPARE(w.size(), windowSize);
    auto *central = w.centralWidget();
    auto *video = child<VideoWidget>(w, "mVideoWidget");
    auto *panel = child<QStackedWidget>(w, "stackedWidget");
    auto *page = child<QWidget>(w, "page_1");
    auto *table = child<QTableWidget>(w, "tableWidget");
    QVERIFY(video && panel && page && table);

    QCOMPARE(panel->width(), 480);
    QCOMPARE(panel->currentWidget(), page);
    const QMargins margins = central->layout()->contentsMargins();
    const int spacing = central->layout()->spacing();
    QCOMPARE(video->x(), margins.left());
    QCOMPARE(video->width(), central->width() - margins.left() - margins.right() - spacing - 480);
    QCOMPARE(video->height(), central->height() - margins.top() - margins.bottom());
    QVERIFY2(video->width() >= 800 && video->height() >= 600,
             qPrintable(QString("video %1x%2").arg(video->width()).arg(video->height())));

    // Nothing of the panel's first page is cut off, the table included.
    const QRect tableOnPage(table->mapTo(page, QPoint(0, 0)), table->size());
    QVERIFY2(page->rect().contains(tableOnPage),
             qPrintable(QString("table bottom %1, page height %2").arg(tableOnPage.bottom()).arg(page->height())));

    w.resize(1400, 900);
    QCoreApplication::processEvents();
}

void MainWindowTest::largeFrameKeepsTheLayout()
{
    MainWindow &w = window(kChinese);
    auto *video = child<VideoWidget>(w, "mVideoWidget");
    QImage frame(1280, 960, QImage::Format_RGB888);
    frame.fill(Qt::gray);
    QCOMPARE(video->presentImage(frame), 0);
    video->updateGeometry();
    QCoreApplication::processEvents();

    QCOMPARE(w.size(), QSize(1400, 900));
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->width(), 480);
    QCOMPARE(video->presentImage(QImage()), -1);
}

void MainWindowTest::texts_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");

    const auto row = [](const char *key, const QString &chinese, const QString &english) {
        QTest::newRow(key) << QString::fromLatin1(key) << chinese << english;
    };
    row("action_Save", "保存路径(P)", "Save Path(P)");
    row("action_About", "关于(A)", "About(A)");
    row("action_Manual", "用户手册(M)", "User Manual(M)");
    row("action_zh_CN", "简体中文", "简体中文");
    row("action_en_US", "English", "English");
    row("action_Exit", "退出程序(E)", "Exit(E)");
    row("action_Reset", "还原亮度(R)", "Reset Brightness");
    // The window puts the brightness there: 170 without a stored value.
    row("currentBrightnessLabel", "170", "170");
    row("label_3", whiteSpan("亮    度： 0"), whiteSpan("Brightness: 0"));
    row("brightnessMaxmum", white12Span("255"), white12Span("255"));
    row("label", whiteSpan("保存名称："), white12Span("Save name:"));
    row("label_2", whiteSpan("保存路径："), white12Span("Save path:"));
    row("connectTypeLabel", whiteSpan("连接方式："), white12Span("Type:"));
    row("autoIncrease", "自动增加", "Increase");
    row("mPathChoseButton", "选  择", "Select");
    row("mConnectTypeComboBox/0", "USB", "USB");
    row("mConnectTypeComboBox/1", "WiFi", "WiFi");
    row("mConnectDeviceButton", "连  接", "Connect");
    row("mDisconnectDeviceButton", " 断  开", "Disconnect");
    row("mCaptureImageButton", "拍  照", "Capture");
    row("tableWidget/0", "序号", "Num");
    row("tableWidget/1", "图片名称", "Name");
    row("tableWidget/2", "图片大小", "Size");
    row("tableWidget/3", "图片位置", "Path");
    row("menuSettings", "功能(F)", "Function(F)");
    row("menuLanguage", "选择语言(L)", "Select Language(L)");
    row("menuAbout", "帮助(H)", "Help(H)");
    row("menuInspect", "检测(I)", "Inspect(I)");
    row("action_ZoneOverlay", "区域叠加(Z)", "Zone Overlay(Z)");
    row("action_InspectCapture", "检测最新照片(N)", "Inspect Newest Capture(N)");
    row("mZoneTable/0", "区域", "Zone");
    row("mZoneTable/1", "直径(µm)", "Diameter (µm)");
    row("mZoneTable/4", "结果", "Result");
    row("mCloseButton", "关  闭", "Close");
    // No English entry: these stay as in Chinese.
    row("window", "Orvella WiFi v1.0.5", "Orvella WiFi v1.0.5");
    row("groupBox", "设置相关", "设置相关");
    row("label_4", "设备编码：", "设备编码：");
    row("label_deviceType", "", "");
    row("label_6", "设置编码：", "设置编码：");
    row("comboBox_deviceType/0", "0x1000(Dornix)", "0x1000(Dornix)");
    row("comboBox_deviceType/1", "0x1001(Telmar)", "0x1001(Telmar)");
    row("comboBox_deviceType/9", "0x1009", "0x1009");
    row("label_15", "设置Wi-Fi名称：", "设置Wi-Fi名称：");
    row("pushButton_reboot", "重启设备生效", "重启设备生效");
    row("checkBox_HelpLine", "图像辅助线", "图像辅助线");
}

void MainWindowTest::texts()
{
    QFETCH(QString, key);
    QFETCH(QString, chinese);
    QFETCH(QString, english);
    QCOMPARE(shownText(window(kChinese), key), chinese);
    QCOMPARE(shownText(window(kEnglish), key), english);
}

void MainWindowTest::slotObjectsExist_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("signal");

    const auto row = [](const char *name, const char *className, const char *signal) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className)
                            << QString::fromLatin1(signal);
    };
    // Connected by name: object, class, and the signal the slot's name picks.
    row("mCaptureImageButton", "QPushButton", "clicked()");
    row("mConnectDeviceButton", "QPushButton", "clicked()");
    row("mDisconnectDeviceButton", "QPushButton", "clicked()");
    row("mPathChoseButton", "QPushButton", "clicked()");
    row("tableWidget", "QTableWidget", "itemDoubleClicked(QTableWidgetItem*)");
    row("brightnessSlider", "QSlider", "valueChanged(int)");
    row("action_Exit", "QAction", "triggered()");
    row("action_Save", "QAction", "triggered()");
    row("action_Manual", "QAction", "triggered()");
    row("action_About", "QAction", "triggered()");
    row("action_zh_CN", "QAction", "triggered()");
    row("action_en_US", "QAction", "triggered()");
    row("action_Reset", "QAction", "triggered()");
    row("pushButton_reboot", "QPushButton", "clicked()");
    row("mFileName", "QLineEdit", "textChanged(QString)");
    row("autoIncrease", "QCheckBox", "clicked(bool)");
    row("action_ZoneOverlay", "QAction", "toggled(bool)");
    row("action_InspectCapture", "QAction", "triggered()");
    // Connected explicitly, or used by the window's code.
    row("mConnectTypeComboBox", "QComboBox", "currentIndexChanged(int)");
    row("mVideoWidget", "VideoWidget", "");
    row("mStoragePathText", "QLineEdit", "");
    row("currentBrightnessLabel", "QLabel", "");
    row("widget_fps", "QWidget", "");
    row("comboBox_deviceType", "QComboBox", "");
    row("lineEdit_ssid", "QLineEdit", "");
    row("label_deviceType", "QLabel", "");
    row("checkBox_HelpLine", "QCheckBox", "");
}

void MainWindowTest::slotObjectsExist()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, signal);
    const QList<QObject *> found = window(kChinese).findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
    if (!signal.isEmpty())
        QVERIFY(found.first()->metaObject()->indexOfSignal(signal.toLatin1().constData()) >= 0);
}

void MainWindowTest::menusHoldActionsInOrder()
{
    MainWindow &w = window(kEnglish);
    const auto names = [](QWidget *widget) {
        QStringList list;
        for (QAction *action : widget->actions()) {
            if (action->isSeparator())
                list << "-";
            else if (action->menu())
                list << action->menu()->objectName();
            else
                list << action->objectName();
        }
        return list;
    };
    // The inspection menu comes after the two menus of old, which keep their places.
    QCOMPARE(names(w.menuBar()), QStringList({"menuSettings", "menuAbout", "menuInspect"}));
    QCOMPARE(names(child<QMenu>(w, "menuInspect")), QStringList({"action_ZoneOverlay", "action_InspectCapture"}));
    QVERIFY(child<QAction>(w, "action_ZoneOverlay")->isCheckable());
    QVERIFY(!child<QAction>(w, "action_ZoneOverlay")->isChecked());
    QVERIFY(!child<QAction>(w, "action_InspectCapture")->isCheckable());
    QCOMPARE(child<QDialog>(w, "InspectionDialog")->windowTitle(), QString("End-face Inspection"));
    QCOMPARE(child<QDialog>(window(kChinese), "InspectionDialog")->windowTitle(), QString::fromUtf8("端面检测"));
    QCOMPARE(names(child<QMenu>(w, "menuSettings")),
             QStringList({"action_Save", "action_Reset", "menuLanguage", "-", "action_Exit"}));
    QCOMPARE(names(child<QMenu>(w, "menuLanguage")), QStringList({"action_zh_CN", "action_en_US"}));
    QCOMPARE(names(child<QMenu>(w, "menuAbout")), QStringList({"action_Manual", "action_About"}));
    QCOMPARE(child<QAction>(w, "action_en_US")->toolTip(), QString("English"));
    QCOMPARE(window(kChinese).findChild<QAction *>("action_en_US")->toolTip(), QString("英文"));
}

void MainWindowTest::connectButtonsOverlapAndOneShows()
{
    for (int language : {kChinese, kEnglish}) {
        MainWindow &w = window(language);
        auto *connect = child<QPushButton>(w, "mConnectDeviceButton");
        auto *disconnect = child<QPushButton>(w, "mDisconnectDeviceButton");
        QCOMPARE(connect->geometry(), QRect(0, 0, 100, 40));
        QCOMPARE(disconnect->geometry(), QRect(0, 0, 100, 40));
        QCOMPARE(connect->parentWidget(), disconnect->parentWidget());
        QVERIFY(connect->isVisible());
        QVERIFY(!disconnect->isVisible());
    }
}

void MainWindowTest::buttonsAndWindowAreStyled()
{
    MainWindow &w = window(kChinese);
    const QImage shot = w.grab().toImage();
    for (const char *name : {"mPathChoseButton", "mConnectDeviceButton", "mCaptureImageButton"}) {
        auto *button = child<QPushButton>(w, name);
        // Just inside the one-pixel border, away from the text.
        const QPoint inside = button->mapTo(&w, QPoint(3, 3));
        QCOMPARE(QColor(shot.pixel(inside)), QColor(0, 0, 86));
    }
    // The panel's empty top shows the window's background.
    const QPoint panelTop = child<QWidget>(w, "stackedWidget")->mapTo(&w, QPoint(240, 5));
    QCOMPARE(QColor(shot.pixel(panelTop)), QColor(43, 60, 145));
    QCOMPARE(w.palette().color(QPalette::WindowText), QColor(Qt::white));
}

void MainWindowTest::uiFontsResolveToCjkFamily()
{
    QVERIFY2(QFontDatabase().families().contains("WenQuanYi Micro Hei"),
             "install fonts-wqy-microhei (scripts/install-deps.sh)");
    MainWindow &w = window(kChinese);
    // Named "Microsoft YaHei UI", "微软雅黑", and inherited from either.
    for (const char *name : {"mConnectDeviceButton", "mCaptureImageButton", "label", "tableWidget", "label_4"}) {
        auto *widget = child<QWidget>(w, name);
        QCOMPARE(QFontInfo(widget->font()).family(), QString("WenQuanYi Micro Hei"));
        QVERIFY(QFontMetrics(widget->font()).inFontUcs4(U'照'));
    }
}

void MainWindowTest::aboutKeepsItsTextsUnderEnglish()
{
    QTranslator english;
    QVERIFY(english.load(":/en_US.qm"));
    QCoreApplication::installTranslator(&english);
    About about;
    QCoreApplication::removeTranslator(&english);

    QCOMPARE(about.objectName(), QString("About"));
    QCOMPARE(about.size(), QSize(400, 200));
    QCOMPARE(about.windowTitle(), QString("Orvella WiFi"));
    auto *label = about.findChild<QLabel *>("label_2");
    QVERIFY(label);
    QCOMPARE(label->text(), QString("Orvella WiFi v1.0.5"));
    QCOMPARE(label->alignment(), Qt::AlignCenter);
    QCOMPARE(about.layout()->objectName(), QString("verticalLayout"));
}

void MainWindowTest::catalogueHoldsUnusedEntries()
{
    QTranslator english;
    QVERIFY(english.load(":/en_US.qm"));
    QCOMPARE(english.translate("MainWindow", "KelvoWiFi v1.2.4"), QString("KelvoWiFi v1.2.4"));
    QCOMPARE(english.translate("About", "KelvoWiFi"), QString("KelvoWiFi"));
    QCOMPARE(english.translate("About", "KelvoWiFi v1.2.4"), QString("KelvoWiFi v1.2.4"));
    // Entries only in the other context do not leak across.
    QVERIFY(english.translate("About", "拍  照").isEmpty());
    QVERIFY(english.translate("MainWindow", "Orvella WiFi v1.0.5").isEmpty());
}

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
