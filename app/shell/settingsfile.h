// The settings file as the program may find it: unreadable, read-only, or
// holding values out of their range.
#pragma once

#include <QString>

class QSettings;

// An integer setting within [lowest, highest]; anything else (missing, not
// a number, out of range) gives fallback.
int boundedSetting(const QSettings &settings, const QString &key, int fallback, int lowest, int highest);

// When the file could not be parsed, copies it beside itself as
// "<file>.bad" (replacing an older copy) before anything overwrites it.
// True when the file was unreadable.
bool keepUnreadableSettings(const QSettings &settings);
