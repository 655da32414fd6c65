#include "windowscreenshot.h"

#include "mainwindow.h"
#include "videowidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadialGradient>
#include <QSlider>
#include <QTableWidget>

namespace {

// A fibre end face as the probe shows it: the cladding lit from behind, a
// bright core, a scratch and a few particles of dust.
QImage endFace()
{
    QImage image(1280, 960, QImage::Format_RGB32);
    image.fill(QColor(18, 18, 22));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(640, 480);

    QRadialGradient cladding(centre, 380);
    cladding.setColorAt(0.0, QColor(200, 200, 190));
    cladding.setColorAt(0.85, QColor(150, 150, 140));
    cladding.setColorAt(1.0, QColor(60, 60, 58));
    painter.setPen(Qt::NoPen);
    painter.setBrush(cladding);
    painter.drawEllipse(centre, 380, 380);

    QRadialGradient core(centre, 48);
    core.setColorAt(0.0, QColor(255, 255, 250));
    core.setColorAt(1.0, QColor(225, 225, 215));
    painter.setBrush(core);
    painter.drawEllipse(centre, 48, 48);

    painter.setPen(QPen(QColor(70, 70, 66), 3));
    painter.drawLine(QPointF(420, 300), QPointF(760, 700));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(45, 45, 42));
    for (const QPointF &speck : {QPointF(520, 620), QPointF(800, 360), QPointF(700, 560), QPointF(470, 420)})
        painter.drawEllipse(speck, 9, 7);
    return image;
}

template <typename T>
T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

void addCapture(QTableWidget &table, const QString &name, const QString &size)
{
    table.insertRow(0);
    const QStringList cells = {QString::number(table.rowCount()), name, size, "/home/user/Pictures/" + name};
    for (int column = 0; column < cells.size(); ++column) {
        auto *item = new QTableWidgetItem(cells[column]);
        if (column == 0 || column == 2)
            item->setTextAlignment(Qt::AlignCenter);
        table.setItem(0, column, item);
    }
}

} // namespace

QImage windowScreenshot()
{
    MainWindow window;
    window.resize(1400, 900);

    child<VideoWidget>(window, "mVideoWidget")->presentImage(endFace());
    child<QSlider>(window, "brightnessSlider")->setValue(170);
    child<QLabel>(window, "currentBrightnessLabel")->setText("170");
    child<QLineEdit>(window, "mFileName")->setText("fibre004");
    child<QLineEdit>(window, "mStoragePathText")->setText("/home/user/Pictures");
    child<QCheckBox>(window, "autoIncrease")->setChecked(true);
    child<QComboBox>(window, "mConnectTypeComboBox")->setCurrentIndex(1);
    child<QPushButton>(window, "mConnectDeviceButton")->hide();
    child<QPushButton>(window, "mDisconnectDeviceButton")->show();

    auto *table = child<QTableWidget>(window, "tableWidget");
    table->verticalHeader()->hide();
    table->setColumnWidth(0, 75);
    table->setColumnWidth(1, 300);
    table->setColumnWidth(2, 80);
    table->setColumnHidden(3, true);
    addCapture(*table, "fibre001.jpg", "402.18KB");
    addCapture(*table, "fibre002.jpg", "398.77KB");
    addCapture(*table, "fibre003.jpg", "405.03KB");

    window.show();
    QApplication::processEvents();
    return window.grab().toImage();
}
