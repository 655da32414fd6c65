#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class About;
}

// The program's name and version.
class About : public QDialog
{
    Q_OBJECT

public:
    explicit About(QWidget *parent = nullptr);
    ~About() override;

private:
    std::unique_ptr<Ui::About> ui;
};
