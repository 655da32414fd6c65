#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QFont>
#include <QTranslator>

namespace {

const char *const kButtonStyleSheet =
    "QPushButton{color:white; background-color: rgb(0, 0, 86); border-style:outset; border-width:1px; border-color:beige;}"
    "QPushButton:hover{color:white; background-color: rgb(120,150,150); border-style: outset;}"
    "QPushButton:pressed{background-color: rgb(255, 255, 255); border-style: inset;}";

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

} // namespace

MainWindow::MainWindow()
    : QMainWindow(nullptr), ui(new Ui::MainWindow)
{
    substituteWindowsUiFont();
    ui->setupUi(this);

    for (QPushButton *button : {ui->mPathChoseButton, ui->mConnectDeviceButton, ui->mDisconnectDeviceButton,
                                ui->mCaptureImageButton})
        button->setStyleSheet(kButtonStyleSheet);
    updateConnectButtons(false);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::applyLanguage(int language)
{
    if (language == 0)
        return;
    // Only the texts set now are translated, so the catalogue need not stay
    // installed afterwards.
    QTranslator english;
    if (!english.load(QStringLiteral(":/en_US.qm"))) {
        qWarning("The English catalogue is missing from the program's resources");
        return;
    }
    QCoreApplication::installTranslator(&english);
    ui->retranslateUi(this);
    QCoreApplication::removeTranslator(&english);
}

void MainWindow::updateConnectButtons(bool connected)
{
    ui->mConnectDeviceButton->setVisible(!connected);
    ui->mDisconnectDeviceButton->setVisible(connected);
}
