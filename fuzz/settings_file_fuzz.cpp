// Any contents of the viewer's settings file: the INI reading, the copy
// kept of a file that cannot be parsed, and the integer settings, which
// must come back within their ranges whatever the file holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QString>

#include "settingsfile.h"

namespace {

// The window's integer settings and their ranges.
struct BoundedKey {
    const char *key;
    int fallback;
    int lowest;
    int highest;
};
const BoundedKey kBoundedKeys[] = {
    {"LANG_STR", 1, 0, 1},
    {"KEY_CAMERA_TYPE_STR", 0, 0, 1},
    {"BRIGHTNESS_STR", 170, 0, 255},
};

void require(bool condition)
{
    if (!condition)
        std::abort();
}

QString settings_directory()
{
    static const QString directory = [] {
        char path[] = "/tmp/settings_file_fuzz.XXXXXX";
        if (mkdtemp(path) == nullptr)
            std::abort();
        return QString::fromLocal8Bit(path);
    }();
    return directory;
}

QByteArray read_all(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A name of its own each time: the settings class caches what it parsed
    // by file name, and a new file of the same size and time could be taken
    // for the old one.
    static unsigned run = 0;
    const QString path = settings_directory() + QStringLiteral("/applicaiton-%1.ini").arg(run++);
    const QByteArray contents(reinterpret_cast<const char *>(data), static_cast<int>(size));
    {
        QFile file(path);
        require(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    }
    {
        const QSettings settings(path, QSettings::IniFormat);
        const bool unreadable = keepUnreadableSettings(settings);
        require(unreadable == (settings.status() == QSettings::FormatError));
        // The kept copy is the file as it was found.
        require(!unreadable || read_all(path + QStringLiteral(".bad")) == contents);
        for (const BoundedKey &bounded : kBoundedKeys) {
            const int value = boundedSetting(settings, QString::fromLatin1(bounded.key), bounded.fallback,
                                             bounded.lowest, bounded.highest);
            require(value >= bounded.lowest && value <= bounded.highest);
        }
        settings.value(QStringLiteral("KEY_STORAGE_PATH_STR")).toString();
        settings.value(QStringLiteral("KEY_FILENAME_STR")).toString();
        settings.value(QStringLiteral("KEY_ID_AUTO_INC_STR"), true).toBool();
    }
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".bad"));
    return 0;
}
