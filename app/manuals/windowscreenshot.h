#pragma once

#include <QImage>

// The viewer's real window, built offscreen in the language the translator
// installed on the application gives it, showing a probe's picture and a
// few captures, as a user sees it while connected.
QImage windowScreenshot();
