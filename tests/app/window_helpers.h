// Helpers of the window tests: answering the modal boxes the window opens,
// finding its widgets by name, and looking for marks in a screenshot.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <cstdlib>

// Answers every modal box that opens with the button of the given text (or
// Escape), and keeps what each box said.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(const QString &answer)
        : mAnswer(answer)
    {
        connect(&mTimer, &QTimer::timeout, this, &BoxAnswerer::look);
        mTimer.start(10);
    }

    QStringList texts;
    QList<QStringList> buttons;

private:
    void look()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        texts << box->text();
        QStringList names;
        for (QAbstractButton *button : box->buttons())
            names << button->text();
        buttons << names;
        if (mAnswer == "Escape") {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton *button : box->buttons())
            if (button->text() == mAnswer) {
                button->click();
                return;
            }
        box->reject();
    }

    QString mAnswer;
    QTimer mTimer;
};

template <typename T>
T *child(QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no %s in the window", name);
    return found;
}

// True when a pixel within `radius` of point has about the colour: marks are
// anti-aliased, so the exact pixel may be a blend.
inline bool colourNear(const QImage &shot, QPointF point, QColor colour, int radius = 2)
{
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint p = point.toPoint() + QPoint(dx, dy);
            if (!shot.rect().contains(p))
                continue;
            const QColor got(shot.pixel(p));
            if (std::abs(got.red() - colour.red()) <= 40 && std::abs(got.green() - colour.green()) <= 40 &&
                std::abs(got.blue() - colour.blue()) <= 40)
                return true;
        }
    return false;
}
