#include "platform/uEndRequests.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end for the signal handler; write() is async-signal-safe, nothing else is
// done there.
int GSignalWriteFd = -1;

void OnEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(GSignalWriteFd, &byte, 1);
    errno = saved;
}

constexpr int EndSignals[] = {SIGTERM, SIGHUP, SIGINT};

} // namespace

struct TEndRequests::TImpl {
    int Fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> Notifier;
    struct sigaction Previous[std::size(EndSignals)] = {};
};

TEndRequests::TEndRequests() : FImpl(std::make_unique<TImpl>()) {
    // One owner at a time: the handler has a single place to write to.
    if (GSignalWriteFd >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, FImpl->Fds) != 0)
        return;
    GSignalWriteFd = FImpl->Fds[1];
    FImpl->Notifier = std::make_unique<QSocketNotifier>(FImpl->Fds[0], QSocketNotifier::Read);
    connect(FImpl->Notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(FImpl->Fds[0], buffer, sizeof(buffer)) > 0) {
        }
        Q_EMIT EndRequested();
    });
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(EndSignals); ++i)
        ::sigaction(EndSignals[i], &action, &FImpl->Previous[i]);
}

TEndRequests::~TEndRequests() {
    if (FImpl->Fds[0] < 0)
        return;
    for (size_t i = 0; i < std::size(EndSignals); ++i)
        ::sigaction(EndSignals[i], &FImpl->Previous[i], nullptr);
    GSignalWriteFd = -1;
    FImpl->Notifier.reset();
    ::close(FImpl->Fds[0]);
    ::close(FImpl->Fds[1]);
}
