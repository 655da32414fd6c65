#pragma once

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

// The viewer's only window: the live picture on the left, the capture panel
// on the right.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    // 0 keeps the Chinese source texts; any other value shows the English
    // catalogue's texts. Meant to run once, right after construction.
    void applyLanguage(int language);

private:
    void updateConnectButtons(bool connected);

    Ui::MainWindow *ui;
};
