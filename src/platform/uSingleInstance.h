#pragma once
#include <QObject>
#include <memory>

// One Pictoport per user session. Claim() runs before the application object exists:
// a second start tells the first to come to the front and must then exit with code 0.
// When no lock can be made at all, the program runs as if it were alone.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class TRole { First, Second, Alone };

    TSingleInstance();
    ~TSingleInstance() override;

    TRole Claim();
    // First instance, once the application object exists: listen for later starts.
    void Listen();
    // At the end, before anything that may take time: a new start from now on runs as
    // the first instance instead of asking this ending one to come forward.
    void Release();

Q_SIGNALS:
    void ShowMeRequested();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// After Qt has shown, restored and raised the window: what the system still needs
// before it lets the window take the foreground (Windows asks for its own calls).
void BringWindowToFront(quintptr ANativeWindow);

namespace SingleInstanceNames {
inline constexpr char Mutex[] = "ScanlumeReceiver_SingleInstance_v1";
inline constexpr char ShowMe[] = "ScanlumeReceiver_ShowMe_v1";
} // namespace SingleInstanceNames
