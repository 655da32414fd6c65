// How stills are named and written: the save-name increment, the file path
// of the next capture, the default folder, and a write that never leaves a
// half-written picture behind.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

// True when every character is one of the ASCII digits 0 to 9 (also for "").
bool isDigits(const QString &text);

// The next number of the same width, "0099" -> "0100"; all nines grow by
// one digit, "999" -> "1000". digits must be non-empty ASCII digits.
QString incrementDigits(const QString &digits);

// The save name after a stored capture: the trailing digits counted up
// ("abc099" -> "abc100"), or "1" appended ("abc" -> "abc1"). Blanks around
// the name are dropped; a blank name stays empty.
QString nextFileName(const QString &name);

// folder/name.jpg, or folder/yyyyMMddHHmmsszzz.jpg for a blank name. folder
// is taken as it is: the caller drops a trailing "/".
QString buildCaptureFilePath(const QString &folder, const QString &saveName, const QDateTime &now);

// Where captures go when no folder was chosen: "C:" + HOMEPATH + "\Pictures"
// with forward slashes where HOMEPATH exists, the user's pictures folder
// elsewhere. The dialog starts from the native spelling.
QString defaultStoragePath();
QString nativeDefaultStoragePath();

// Writes image as a JPEG of quality 100 through a temporary file in the
// same folder that replaces path only once it is complete, so a failed
// write keeps whatever was there. False when nothing was stored.
bool writeJpeg(const QImage &image, const QString &path);
