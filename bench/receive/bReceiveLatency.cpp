// Receive latency on loopback: from the phone's send of a 4 MB JPEG to the worker's
// image callback on the window thread, beside a plain loopback TCP transfer of the same
// bytes measured in the same run.
//   bench_receive_latency [ITEMS]   (SCANLUME_LOCAL names the service program)
#include "worker/uPollThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClockNs = qint64;

QElapsedTimer GClock;

struct TCurlReply {
    long Status = 0;
    QByteArray Body;
};

size_t Collect(char* AData, size_t ASize, size_t ACount, void* AUser) {
    static_cast<QByteArray*>(AUser)->append(AData, qsizetype(ASize * ACount));
    return ASize * ACount;
}

QByteArray Login(const QString& ABase) {
    CURL* c = curl_easy_init();
    QByteArray body;
    const QByteArray url = (ABase + QStringLiteral("/api/auth/login")).toUtf8();
    const char json[] = R"({"email":"bench@example.com","password":"pw","remember_me":true})";
    curl_slist* h = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, h);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, json);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(c);
    curl_slist_free_all(h);
    curl_easy_cleanup(c);
    const qsizetype at = body.indexOf("\"access_token\":\"");
    if (at < 0)
        return {};
    const qsizetype start = at + 16;
    return body.mid(start, body.indexOf('"', start) - start);
}

// The phone's upload, with a connection kept open between items as an app would.
void Send(CURL* ACurl, const QString& ABase, const QByteArray& AToken, const QByteArray& AJpeg) {
    const QByteArray url = (ABase + QStringLiteral("/api/image-transfer/send")).toUtf8();
    curl_mime* form = curl_mime_init(ACurl);
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, "file");
    curl_mime_data(part, AJpeg.constData(), size_t(AJpeg.size()));
    curl_mime_filename(part, "photo.jpg");
    curl_mime_type(part, "image/jpeg");
    const QByteArray auth = "Authorization: Bearer " + AToken;
    curl_slist* h = curl_slist_append(nullptr, auth.constData());
    h = curl_slist_append(h, "Expect:");
    QByteArray sink;
    curl_easy_setopt(ACurl, CURLOPT_URL, url.constData());
    curl_easy_setopt(ACurl, CURLOPT_HTTPHEADER, h);
    curl_easy_setopt(ACurl, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(ACurl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(ACurl, CURLOPT_WRITEDATA, &sink);
    curl_easy_perform(ACurl);
    curl_slist_free_all(h);
    curl_mime_free(form);
}

// One plain loopback TCP transfer of the bytes, sender and receiver on two threads.
double LoopbackTransferMs(const QByteArray& ABytes) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    ::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
    ::listen(server, 1);
    QElapsedTimer t;
    t.start();
    std::thread sender([&] {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        qsizetype off = 0;
        while (off < ABytes.size()) {
            const ssize_t n = ::send(s, ABytes.constData() + off, size_t(ABytes.size() - off), 0);
            if (n <= 0)
                break;
            off += n;
        }
        ::close(s);
    });
    const int conn = ::accept(server, nullptr, nullptr);
    std::vector<char> buf(1 << 20);
    qsizetype got = 0;
    while (got < ABytes.size()) {
        const ssize_t n = ::recv(conn, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        got += n;
    }
    const double ms = t.nsecsElapsed() / 1e6;
    sender.join();
    ::close(conn);
    ::close(server);
    return ms;
}

double Percentile(std::vector<double> AValues, double AP) {
    std::sort(AValues.begin(), AValues.end());
    const size_t i = std::min(AValues.size() - 1, size_t(AP * (AValues.size() - 1) + 0.5));
    return AValues[i];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int items = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    const QString program = qEnvironmentVariable("SCANLUME_LOCAL");
    QProcess service;
    service.start(program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                            QStringLiteral("--user"), QStringLiteral("bench@example.com:pw")});
    if (!service.waitForReadyRead(10000)) {
        std::fprintf(stderr, "scanlume-local did not start (SCANLUME_LOCAL=%s)\n",
                     qPrintable(program));
        return 1;
    }
    const QString base = QString::fromUtf8(service.readLine()).trimmed().section(u' ', 2);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const QByteArray token = Login(base);

    QByteArray jpeg(4 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator64 rng(42);
    rng.fillRange(reinterpret_cast<quint32*>(jpeg.data()), jpeg.size() / 4);
    jpeg[0] = char(0xFF);
    jpeg[1] = char(0xD8);

    GClock.start();
    std::vector<double> latencies;
    std::vector<double> uploads;
    qint64 sentAt = 0;
    bool connected = false;
    QEventLoop loop;
    TPollThread* worker = TPollThread::Create(
        base, QStringLiteral("bench@example.com"), QStringLiteral("pw"),
        [&](const QString&, const QString&, const QByteArray& AData) {
            if (AData.size() == jpeg.size())
                latencies.push_back((GClock.nsecsElapsed() - sentAt) / 1e6);
            loop.quit();
        },
        nullptr,
        [&](const QString&, bool AConnected) {
            if (AConnected && !connected) {
                connected = true;
                loop.quit();
            }
        });
    loop.exec();

    CURL* phone = curl_easy_init();
    for (int i = 0; i < items; ++i) {
        sentAt = GClock.nsecsElapsed();
        std::atomic<qint64> uploadedAt{0};
        std::thread sender([&] {
            Send(phone, base, token, jpeg);
            uploadedAt = GClock.nsecsElapsed();
        });
        loop.exec();
        sender.join();
        uploads.push_back((uploadedAt - sentAt) / 1e6);
    }
    curl_easy_cleanup(phone);
    worker->Stop();

    std::vector<double> reference;
    for (int i = 0; i < items; ++i)
        reference.push_back(LoopbackTransferMs(jpeg));

    const double p50 = Percentile(latencies, 0.50), p99 = Percentile(latencies, 0.99);
    const double r50 = Percentile(reference, 0.50), r99 = Percentile(reference, 0.99);
    std::printf("receive latency, 4 MiB JPEG, %zu items over loopback\n", latencies.size());
    std::printf("  phone send -> image callback on the window thread: p50 %7.2f ms  p99 %7.2f ms\n",
                p50, p99);
    std::printf("  (of which the phone's upload until its 202 answer: p50 %7.2f ms)\n",
                Percentile(uploads, 0.5));
    std::printf("  reference: one plain loopback TCP transfer:       p50 %7.2f ms  p99 %7.2f ms\n",
                r50, r99);
    std::printf("  ratio: p50 %.1fx  p99 %.1fx (the item crosses loopback twice: phone to service, "
                "service to receiver)\n",
                p50 / r50, p99 / r99);
    TPollThread::ShutdownAll(3000);
    service.kill();
    service.waitForFinished();
    return 0;
}
