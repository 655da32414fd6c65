// Renders a user manual to PDF: its HTML text, with a screenshot of the
// real window in the manual's language. Runs at build time, offscreen.
// Usage: kelvo_manual_generator EN|CN SOURCE.html OUTPUT.pdf
#include "windowscreenshot.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTranslator>
#include <QUrl>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "kelvo_manual_generator: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // A build step never reaches a probe, and needs no display.
    qputenv("KELVO_QRN_ADDRESS", "127.0.0.1");
    qputenv("KELVO_ML_ADDRESS", "127.0.0.2");
    qputenv("QRN_BCAST_ADDRS", "127.255.255.255");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QStringList arguments = app.arguments();
    if (arguments.size() != 4 || (arguments[1] != "EN" && arguments[1] != "CN"))
        return fail("usage: kelvo_manual_generator EN|CN SOURCE.html OUTPUT.pdf");
    const bool english = arguments[1] == "EN";
    QFile source(arguments[2]);
    if (!source.open(QIODevice::ReadOnly))
        return fail("cannot read " + arguments[2]);
    const QString outputPath = QDir::current().absoluteFilePath(arguments[3]);

    // The window keeps its settings file in the working directory: give it
    // a scratch one holding the manual's language.
    QTemporaryDir scratch;
    if (!scratch.isValid() || !QDir::setCurrent(scratch.path()))
        return fail("cannot make a scratch folder");
    {
        QSettings settings("./applicaiton.ini", QSettings::IniFormat);
        settings.setValue("LANG_STR", english ? 1 : 0);
        settings.setValue("KEY_CAMERA_TYPE_STR", 1);
    }
    QTranslator catalogue;
    if (english) {
        if (!catalogue.load(QStringLiteral(":/en_US.qm")))
            return fail("the English catalogue is missing");
        QCoreApplication::installTranslator(&catalogue);
    }
    const QImage screenshot = windowScreenshot();

    QTextDocument document;
    document.setDefaultFont(QFont(english ? "DejaVu Sans" : "WenQuanYi Micro Hei", 10));
    document.addResource(QTextDocument::ImageResource, QUrl("window.png"), screenshot);
    document.setHtml(QString::fromUtf8(source.readAll()));

    QPdfWriter pdf(outputPath);
    pdf.setTitle(english ? "KelvoWiFi User Manual" : QStringLiteral("KelvoWiFi 用户手册"));
    pdf.setCreator("KelvoWiFi");
    pdf.setResolution(300);
    // No margins of its own: printing a document gives each page 2 cm
    // margins and a page number.
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                  QPageLayout::Millimeter));
    document.print(&pdf);
    if (!QFile::exists(outputPath))
        return fail("cannot write " + outputPath);
    return 0;
}
