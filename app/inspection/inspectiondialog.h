#pragma once

#include <QDialog>
#include <QPixmap>

struct CaptureInspection;

namespace Ui {
class InspectionDialog;
}

// Shows one inspected capture: the verdict, the annotated picture, the zone
// table and where its report went (or why it could not be written).
class InspectionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit InspectionDialog(QWidget *parent = nullptr);
    ~InspectionDialog() override;

    // Fixed texts through the installed catalogue, as the window's are.
    void retranslate();
    // The texts filled in here follow language (0 Chinese, 1 English), as
    // the window's message boxes do.
    void showInspection(const CaptureInspection &inspection, int language);

protected:
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void on_mCloseButton_clicked();

private:
    void showImage();

    Ui::InspectionDialog *ui;
    QPixmap mAnnotated;
};
