#include "settingsfile.h"

#include <QFile>
#include <QSettings>

int boundedSetting(const QSettings &settings, const QString &key, int fallback, int lowest, int highest)
{
    bool number = false;
    const int value = settings.value(key, fallback).toInt(&number);
    return number && value >= lowest && value <= highest ? value : fallback;
}

bool keepUnreadableSettings(const QSettings &settings)
{
    settings.allKeys();  // the file is parsed on first use, and only then says how it went
    if (settings.status() != QSettings::FormatError)
        return false;
    const QString copy = settings.fileName() + QStringLiteral(".bad");
    QFile::remove(copy);
    QFile::copy(settings.fileName(), copy);
    return true;
}
