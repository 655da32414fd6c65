#include "capturefiles.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

bool isDigits(const QString &text)
{
    static const QRegularExpression digits(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]*")));
    return digits.match(text).hasMatch();
}

QString incrementDigits(const QString &digits)
{
    QString result = digits;
    int i = result.size() - 1;
    while (i >= 0 && result[i] == QLatin1Char('9'))
        result[i--] = QLatin1Char('0');
    if (i < 0)
        return QLatin1Char('1') + result;
    result[i] = QChar(result[i].unicode() + 1);
    return result;
}

QString nextFileName(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return QString();
    int suffix = 0;
    while (suffix < trimmed.size() && isDigits(trimmed.right(suffix + 1)))
        ++suffix;
    if (suffix == 0)
        return trimmed + QLatin1Char('1');
    return trimmed.left(trimmed.size() - suffix) + incrementDigits(trimmed.right(suffix));
}

QString buildCaptureFilePath(const QString &folder, const QString &saveName, const QDateTime &now)
{
    const QString name = saveName.trimmed();
    const QString base = name.isEmpty() ? now.toString(QStringLiteral("yyyyMMddHHmmsszzz")) : name;
    return folder + QLatin1Char('/') + base + QStringLiteral(".jpg");
}

QString nativeDefaultStoragePath()
{
    if (qEnvironmentVariableIsSet("HOMEPATH"))
        return QStringLiteral("C:") + qEnvironmentVariable("HOMEPATH") + QStringLiteral("\\Pictures");
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

QString defaultStoragePath()
{
    QString path = nativeDefaultStoragePath();
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

bool writeJpeg(const QImage &image, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!image.save(&file, "jpg", 100)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
