#ifndef MLKEYPROCESS_H
#define MLKEYPROCESS_H

#include <QThread>

#include <atomic>

namespace KelvoWifi {

// Polls the capture key of the second kind of module and signals each poll
// that finds it pressed.
class MlKeyProcess : public QThread
{
    Q_OBJECT

public:
    explicit MlKeyProcess(QObject *parent = nullptr);
    ~MlKeyProcess() override;

    void startPolling();
    void stopPolling();

signals:
    void capKeyPressed();

protected:
    void run() override;

private:
    std::atomic<bool> mStop{true};
};

} // namespace KelvoWifi

#endif // MLKEYPROCESS_H
