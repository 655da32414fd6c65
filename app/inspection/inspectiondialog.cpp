#include "inspectiondialog.h"

#include "captureinspection.h"
#include "ui_inspectiondialog.h"

#include <QFileInfo>

namespace {

const int kEnglish = 1;

QString verdictText(const endface::InspectionResult &result, int language)
{
    const bool english = language == kEnglish;
    switch (result.overall) {
    case endface::Verdict::Pass:
        return english ? QStringLiteral("PASS") : QStringLiteral("合格");
    case endface::Verdict::Fail:
        return english ? QStringLiteral("FAIL") : QStringLiteral("不合格");
    case endface::Verdict::CannotInspect:
        break;
    }
    return (english ? QStringLiteral("Cannot inspect: ") : QStringLiteral("无法检测：")) +
           QString::fromStdString(result.cannot_inspect_reason);
}

QString roleText(const std::string &role, int language)
{
    const QString text = QString::fromStdString(role);
    if (language == kEnglish)
        return text;
    static const QHash<QString, QString> chinese = {{QStringLiteral("core"), QStringLiteral("纤芯")},
                                                    {QStringLiteral("cladding"), QStringLiteral("包层")},
                                                    {QStringLiteral("adhesive"), QStringLiteral("胶层")},
                                                    {QStringLiteral("contact"), QStringLiteral("接触区")}};
    return chinese.value(text, text);
}

QString zoneVerdictText(const endface::ZoneVerdict &verdict, int language)
{
    QString text;
    if (verdict.verdict == endface::Verdict::Pass)
        text = language == kEnglish ? QStringLiteral("pass") : QStringLiteral("合格");
    else
        text = language == kEnglish ? QStringLiteral("fail") : QStringLiteral("不合格");
    for (const std::string &reason : verdict.reasons)
        text += QStringLiteral("; ") + QString::fromStdString(reason);
    return text;
}

} // namespace

InspectionDialog::InspectionDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::InspectionDialog)
{
    ui->setupUi(this);
}

InspectionDialog::~InspectionDialog()
{
    delete ui;
}

void InspectionDialog::retranslate()
{
    ui->retranslateUi(this);
}

void InspectionDialog::showInspection(const CaptureInspection &inspection, int language)
{
    const endface::InspectionResult &result = inspection.result;
    const QString name = QFileInfo(inspection.picturePath).fileName();
    ui->mVerdictLabel->setText(name + QStringLiteral("  ") + verdictText(result, language));
    QPalette palette = ui->mVerdictLabel->palette();
    const QColor colour = result.overall == endface::Verdict::Pass   ? QColor(0, 150, 0)
                          : result.overall == endface::Verdict::Fail ? QColor(210, 0, 0)
                                                                     : QColor(100, 100, 100);
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, Qt::white);
    ui->mVerdictLabel->setPalette(palette);

    mAnnotated = QPixmap::fromImage(inspection.annotated);
    ui->mImageLabel->setText(mAnnotated.isNull() ? verdictText(result, language) : QString());
    showImage();

    QTableWidget *table = ui->mZoneTable;
    table->setRowCount(0);
    for (size_t i = 0; i < result.zone_verdicts.size(); ++i) {
        const endface::ZoneVerdict &verdict = result.zone_verdicts[i];
        const endface::Zone *zone = i < result.zones.size() ? &result.zones[i] : nullptr;
        const int row = table->rowCount();
        table->insertRow(row);
        const QStringList cells = {
            QString::fromStdString(verdict.zone) + (zone ? QStringLiteral(" ") + roleText(zone->role, language)
                                                         : QString()),
            zone ? QStringLiteral("%1 - %2").arg(zone->inner_diameter_um).arg(zone->outer_diameter_um) : QString(),
            QString::number(verdict.defect_count), QString::number(verdict.scratch_count),
            zoneVerdictText(verdict, language)};
        for (int column = 0; column < cells.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    table->resizeColumnsToContents();

    const endface::ReportOutcome &report = inspection.report;
    if (report.written)
        ui->mReportLabel->setText((language == kEnglish ? QStringLiteral("Report: ") : QStringLiteral("检测报告："))
                                  + QString::fromStdString(report.paths.page));
    else
        ui->mReportLabel->setText((language == kEnglish ? QStringLiteral("The report was not written: ")
                                                        : QStringLiteral("检测报告未能保存："))
                                  + QString::fromStdString(report.error));
    show();
    raise();
}

void InspectionDialog::showImage()
{
    if (mAnnotated.isNull()) {
        ui->mImageLabel->setPixmap(QPixmap());
        return;
    }
    ui->mImageLabel->setPixmap(
        mAnnotated.scaled(ui->mImageLabel->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void InspectionDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    showImage();
}

void InspectionDialog::on_mCloseButton_clicked()
{
    accept();
}
