#include "platform/uSingleInstance.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The lock is an flock on a file in $XDG_RUNTIME_DIR: the kernel drops it when the
// holder dies, so a crashed instance never blocks the next start. Later starts reach
// the holder through a Unix socket beside it.
struct TSingleInstance::TImpl {
    int LockFd = -1;
    int ListenFd = -1;
    std::unique_ptr<QSocketNotifier> Notifier;
    QByteArray SocketPath;

    ~TImpl() {
        Notifier.reset();
        if (ListenFd >= 0) {
            ::close(ListenFd);
            ::unlink(SocketPath.constData());
        }
        if (LockFd >= 0)
            ::close(LockFd);
    }
};

namespace {

QByteArray RuntimeDir() {
    const QByteArray dir = qgetenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (dir.isEmpty() || ::stat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QByteArray();
    return dir;
}

bool FillAddress(sockaddr_un& AAddr, const QByteArray& APath) {
    std::memset(&AAddr, 0, sizeof(AAddr));
    AAddr.sun_family = AF_UNIX;
    if (static_cast<size_t>(APath.size()) >= sizeof(AAddr.sun_path))
        return false;
    std::memcpy(AAddr.sun_path, APath.constData(), APath.size());
    return true;
}

void SendShowMe(const QByteArray& APath) {
    sockaddr_un addr{};
    if (!FillAddress(addr, APath))
        return;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    // Fire and forget: the second instance does not wait for an answer.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
        const char msg[] = "show\n";
        [[maybe_unused]] ssize_t n = ::send(fd, msg, sizeof(msg) - 1, MSG_NOSIGNAL);
    }
    ::close(fd);
}

} // namespace

TSingleInstance::TSingleInstance() : FImpl(std::make_unique<TImpl>()) {}
TSingleInstance::~TSingleInstance() = default;

TSingleInstance::TRole TSingleInstance::Claim() {
    const QByteArray dir = RuntimeDir();
    if (dir.isEmpty())
        return TRole::Alone;
    const QByteArray lockPath = dir + '/' + SingleInstanceNames::Mutex + ".lock";
    FImpl->SocketPath = dir + '/' + SingleInstanceNames::ShowMe;

    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return TRole::Alone;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        FImpl->LockFd = fd;
        return TRole::First;
    }
    const int err = errno;
    ::close(fd);
    if (err != EWOULDBLOCK)
        return TRole::Alone;
    SendShowMe(FImpl->SocketPath);
    return TRole::Second;
}

void TSingleInstance::Release() {
    FImpl = std::make_unique<TImpl>(); // closes the socket and the lock, removes the socket
}

void TSingleInstance::Listen() {
    if (FImpl->LockFd < 0 || FImpl->ListenFd >= 0)
        return;
    sockaddr_un addr{};
    if (!FillAddress(addr, FImpl->SocketPath))
        return;
    // We hold the lock, so a socket file still there belongs to a dead instance.
    ::unlink(FImpl->SocketPath.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return;
    }
    ::chmod(FImpl->SocketPath.constData(), 0600);
    FImpl->ListenFd = fd;
    FImpl->Notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(FImpl->Notifier.get(), &QSocketNotifier::activated, this, [this] {
        bool wanted = false;
        for (;;) {
            const int client = ::accept4(FImpl->ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                break;
            ::close(client);
            wanted = true;
        }
        // Every later start repeats the same request; one reaction per wake-up is enough.
        if (wanted)
            Q_EMIT ShowMeRequested();
    });
}

// Raising the window through Qt is all a desktop here needs.
void BringWindowToFront(quintptr) {}
