// A stand-in for the viewer around the real guard: a hidden window that
// reports each show and activation on standard output, so a test sees the
// running copy being raised. "first" means this copy is the one listening.
#include "singleapplication.h"

#include <QEvent>
#include <QWidget>

#include <cstdio>

namespace {

void report(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

class ReportingWindow : public QWidget
{
public:
    // Every show() is reported, even on a window already shown, so each
    // knock counts once.
    void setVisible(bool visible) override
    {
        if (visible)
            report("shown");
        QWidget::setVisible(visible);
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate)
            report("activated");
        return QWidget::event(event);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    SingleApplication app(argc, argv);
    if (app.isRunning())
        return 0;
    ReportingWindow window;
    app.mainWindow = &window;
    report("first");
    return app.exec();
}
