#pragma once
#include <QObject>
#include <memory>

// The system asking the program to end: on Linux SIGTERM (a session that logs out, a
// systemd user stop), SIGHUP and SIGINT. Without this they end the process on the spot,
// and an item already taken from the service is lost with the settings not saved.
// Windows ends a session through the window messages Qt already turns into a quit.
class TEndRequests : public QObject {
    Q_OBJECT
public:
    TEndRequests();
    ~TEndRequests() override;

Q_SIGNALS:
    // Delivered on the thread that made the object, outside the signal handler.
    void EndRequested();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
