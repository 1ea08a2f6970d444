// Nothing a client sends may bring the service down: bad input gets a clear 4xx answer.
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "uLocalService.h"

namespace {

const QString kUser = QStringLiteral("demo@example.com:secret");

// Sends raw bytes over a fresh connection, optionally half-closes, and returns what the
// service answers before it closes the connection or ATimeoutMs pass.
QByteArray RawExchange(int APort, const QByteArray& ABytes, bool AHalfClose,
                       int ATimeoutMs = 3000) {
    const int Socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (Socket < 0) {
        return "<no socket>";
    }
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(static_cast<uint16_t>(APort));
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray Answer;
    if (::connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) == 0) {
        qsizetype Sent = 0;
        while (Sent < ABytes.size()) {
            const ssize_t N = ::send(Socket, ABytes.constData() + Sent,
                                     static_cast<size_t>(ABytes.size() - Sent), MSG_NOSIGNAL);
            if (N <= 0) {
                break;
            }
            Sent += N;
        }
        if (AHalfClose) {
            ::shutdown(Socket, SHUT_WR);
        }
        QElapsedTimer Timer;
        Timer.start();
        char Buffer[4096];
        while (Timer.elapsed() < ATimeoutMs) {
            pollfd Poll{Socket, POLLIN, 0};
            if (::poll(&Poll, 1, static_cast<int>(ATimeoutMs - Timer.elapsed())) <= 0) {
                break;
            }
            const ssize_t N = ::recv(Socket, Buffer, sizeof(Buffer), 0);
            if (N <= 0) {
                break;
            }
            Answer.append(Buffer, N);
        }
    }
    ::close(Socket);
    return Answer;
}

// True once AAnswer holds a whole response: its headers and Content-Length bytes of body.
bool IsCompleteAnswer(const QByteArray& AAnswer) {
    const qsizetype HeaderEnd = AAnswer.indexOf("\r\n\r\n");
    if (HeaderEnd < 0) {
        return false;
    }
    qsizetype Length = 0;
    for (const QByteArray& Line : AAnswer.left(HeaderEnd).split('\n')) {
        if (Line.toLower().startsWith("content-length:")) {
            Length = Line.mid(15).trimmed().toLongLong();
        }
    }
    return AAnswer.size() >= HeaderEnd + 4 + Length;
}

struct TStreamed {
    QByteArray Answer;
    qint64 BodySent = 0; // body bytes handed to the socket before the answer came
};

// Sends AHead, then ABody followed by ARepeatMiB mebibytes of zeros, as one chunked body when
// AChunked, while it watches for an answer: sending stops as soon as the service answers (or
// closes), so a service that refuses early is never sent the rest. Returns once the answer is
// whole.
TStreamed StreamRequest(int APort, const QByteArray& AHead, const QByteArray& ABody, int ARepeatMiB,
                        bool AChunked, int ATimeoutMs = 20000) {
    TStreamed Result;
    const int Socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (Socket < 0) {
        return Result;
    }
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(static_cast<uint16_t>(APort));
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0) {
        ::close(Socket);
        return Result;
    }
    ::fcntl(Socket, F_SETFL, ::fcntl(Socket, F_GETFL) | O_NONBLOCK);

    const QByteArray Zeros(1024 * 1024, '\0');
    const auto Frame = [&](const QByteArray& APiece) {
        return AChunked ? QByteArray::number(APiece.size(), 16) + "\r\n" + APiece + "\r\n" : APiece;
    };
    QByteArray Pending = AHead;
    qsizetype Offset = 0;   // first unsent byte of Pending
    qint64 PendingBody = 0; // body bytes in Pending
    if (!ABody.isEmpty()) {
        Pending += Frame(ABody);
        PendingBody = ABody.size();
    }
    int PiecesLeft = ARepeatMiB;
    bool Ended = false;
    QElapsedTimer Timer;
    Timer.start();
    char Buffer[4096];
    while (Timer.elapsed() < ATimeoutMs && !IsCompleteAnswer(Result.Answer)) {
        if (Offset == Pending.size() && !Ended) {
            Offset = 0;
            if (PiecesLeft > 0) {
                Pending = Frame(Zeros);
                PendingBody = Zeros.size();
                --PiecesLeft;
            } else if (AChunked) {
                Pending = "0\r\n\r\n";
                Ended = true;
            } else {
                Pending.clear();
                ::shutdown(Socket, SHUT_WR); // a body without a length ends here
                Ended = true;
            }
        }
        // Once an answer has begun, only read.
        const bool Sending = Offset < Pending.size() && Result.Answer.isEmpty();
        pollfd Poll{Socket, static_cast<short>(POLLIN | (Sending ? POLLOUT : 0)), 0};
        if (::poll(&Poll, 1, 200) < 0) {
            break;
        }
        if ((Poll.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t N = ::recv(Socket, Buffer, sizeof(Buffer), 0);
            if (N > 0) {
                Result.Answer.append(Buffer, N);
                continue;
            }
            if (N == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                break; // closed
            }
        }
        if (!Sending || (Poll.revents & POLLOUT) == 0) {
            continue;
        }
        const ssize_t N = ::send(Socket, Pending.constData() + Offset,
                                 static_cast<size_t>(Pending.size() - Offset), MSG_NOSIGNAL);
        if (N < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                Offset = Pending.size(); // refused: read what came back
                Ended = true;
            }
            continue;
        }
        // The few framing bytes come first or last; count what was sent as body up to the
        // body bytes the piece holds.
        const qint64 Body = std::min<qint64>(N, PendingBody);
        Result.BodySent += Body;
        PendingBody -= Body;
        Offset += N;
    }
    ::close(Socket);
    return Result;
}

QByteArray RandomBytes(int ASize, quint32 ASeed) {
    QRandomGenerator Random(ASeed);
    QByteArray Bytes(ASize, '\0');
    for (char& C : Bytes) {
        C = static_cast<char>(Random.bounded(256));
    }
    return Bytes;
}

} // namespace

class TRobustnessTest : public QObject {
    Q_OBJECT

private:
    TLocalService FService;
    QString FToken;

    void VerifyAlive() {
        QCOMPARE(FService.Process().state(), QProcess::Running);
        QVERIFY(!FService.Token(kUser).isEmpty());
    }

private slots:
    void initTestCase() {
        QVERIFY(FService.Start());
        FToken = FService.Token(kUser);
    }

    void badRequestsGetAClearAnswer_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");

        const QByteArray Json = "application/json";
        const QByteArray Form = "multipart/form-data; boundary=zz";
        const QString Login = QStringLiteral("/api/auth/login");
        const QString Extract = QStringLiteral("/api/extraction/extract");
        const QString Items = QStringLiteral("/api/extraction/items");
        const QString Send = QStringLiteral("/api/image-transfer/send");
        const QString Upload = QStringLiteral("/api/image-jobs/upload");

        QTest::newRow("sign-in with binary junk")
            << QByteArray("POST") << Login << Json << RandomBytes(5000, 1) << 422;
        // Within the sign-in's 64 KiB, deep enough to overflow a parser that recursed.
        QTest::newRow("sign-in nested 65 000 deep")
            << QByteArray("POST") << Login << Json << QByteArray(65000, '[') << 422;
        QTest::newRow("sign-in with NUL in JSON")
            << QByteArray("POST") << Login << Json << QByteArray("{\"email\":\"a\0b\"}", 15) << 422;
        QTest::newRow("sign-in with invalid UTF-8")
            << QByteArray("POST") << Login << Json
            << QByteArray("{\"email\":\"\xc3\x28\",\"password\":\"x\"}") << 422;
        QTest::newRow("sign-in by GET")
            << QByteArray("GET") << Login << QByteArray() << QByteArray() << 405;
        QTest::newRow("extract with truncated JSON")
            << QByteArray("POST") << Extract << Json << QByteArray("{\"text\":\"AST") << 422;
        QTest::newRow("items with binary junk")
            << QByteArray("PUT") << Items << Json << RandomBytes(3000, 2) << 422;
        QTest::newRow("items by DELETE")
            << QByteArray("DELETE") << Items << QByteArray() << QByteArray() << 405;
        QTest::newRow("send with junk form")
            << QByteArray("POST") << Send << Form << RandomBytes(4000, 3) << 422;
        QTest::newRow("send with endless part headers")
            << QByteArray("POST") << Send << Form << "--zz\r\n" + QByteArray(100000, 'h') << 422;
        QTest::newRow("upload with junk image")
            << QByteArray("POST") << Upload << Form
            << QByteArray("--zz\r\nContent-Disposition: form-data; name=\"file\"; "
                          "filename=\"a.jpg\"\r\n\r\n") +
                   RandomBytes(2000, 4) + "\r\n--zz--\r\n"
            << 422;
        QTest::newRow("upload with truncated JPEG")
            << QByteArray("POST") << Upload << Form
            << QByteArray("--zz\r\nContent-Disposition: form-data; name=\"file\"; "
                          "filename=\"a.jpg\"\r\n\r\n\xff\xd8\xff\xe0\x00\x10JFIF\r\n--zz--\r\n")
            << 422;
        QTest::newRow("upload of an empty file")
            << QByteArray("POST") << Upload << Form
            << QByteArray("--zz\r\nContent-Disposition: form-data; name=\"file\"; "
                          "filename=\"a.jpg\"\r\n\r\n\r\n--zz--\r\n")
            << 422;
        QTest::newRow("upload without file")
            << QByteArray("POST") << Upload << Form
            << QByteArray("--zz\r\nContent-Disposition: form-data; "
                          "name=\"notify_pc\"\r\n\r\nfalse\r\n--zz--\r\n")
            << 422;
        QTest::newRow("upload in an unknown mode")
            << QByteArray("POST") << Upload << Form
            << QByteArray("--zz\r\nContent-Disposition: form-data; name=\"file\"; "
                          "filename=\"a.jpg\"\r\n\r\nx\r\n--zz\r\nContent-Disposition: form-data; "
                          "name=\"mode\"\r\n\r\nfast\r\n--zz--\r\n")
            << 422;
        QTest::newRow("unknown path") << QByteArray("GET") << QStringLiteral("/api/nothing")
                                      << QByteArray() << QByteArray() << 404;
        QTest::newRow("path with encoded junk")
            << QByteArray("GET") << QStringLiteral("/%00%ff%2e%2e/%zz") << QByteArray()
            << QByteArray() << 404;
        QTest::newRow("very long path") << QByteArray("GET") << "/" + QString(8000, u'a')
                                        << QByteArray() << QByteArray() << 404;
    }

    void badRequestsGetAClearAnswer() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(int, status);

        TLocalService::THeaders Headers{{"Authorization", "Bearer " + FToken.toUtf8()}};
        if (!contentType.isEmpty()) {
            Headers.append({"Content-Type", contentType});
        }
        const auto Reply = FService.Call(method, path, Headers, body);
        QCOMPARE(Reply.Status, status);
        QVERIFY(QJsonDocument::fromJson(Reply.Body).object().contains("detail"));
        VerifyAlive();
    }

    void brokenConnectionsLeaveTheServiceAlive_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("halfClose");
        QTest::addColumn<QByteArray>("answerStart"); // empty: any answer, or none

        QTest::newRow("Content-Length far over the limit")
            << QByteArray("POST /api/auth/login HTTP/1.1\r\nHost: x\r\nContent-Length: "
                          "999999999999\r\n\r\n{")
            << false << QByteArray("HTTP/1.1 413");
        QTest::newRow("Content-Length just over 64 MiB")
            << QByteArray("POST /api/extraction/extract HTTP/1.1\r\nHost: x\r\nContent-Length: "
                          "67108865\r\n\r\n")
            << false << QByteArray("HTTP/1.1 413");
        QTest::newRow("negative Content-Length")
            << QByteArray("POST /api/auth/login HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n")
            << true << QByteArray();
        QTest::newRow("body shorter than announced")
            << QByteArray("POST /api/auth/login HTTP/1.1\r\nHost: x\r\nContent-Length: "
                          "1000\r\n\r\n{\"email\"")
            << true << QByteArray();
        QTest::newRow("bad chunk size")
            << QByteArray("POST /api/auth/login HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: "
                          "chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n")
            << true << QByteArray();
        QTest::newRow("junk instead of a request line") << RandomBytes(3000, 5) + "\r\n\r\n"
                                                        << true << QByteArray();
        QTest::newRow("header line over 8 KiB")
            << "GET / HTTP/1.1\r\nX-Long: " + QByteArray(20000, 'x') + "\r\n\r\n"
            << true << QByteArray();
        QTest::newRow("request line without version")
            << QByteArray("GET /\r\n\r\n") << true << QByteArray();
        QTest::newRow("hang-up right after connecting") << QByteArray() << true << QByteArray();
    }

    void brokenConnectionsLeaveTheServiceAlive() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, halfClose);
        QFETCH(QByteArray, answerStart);
        // The answer comes at once; an open connection is not waited for.
        const QByteArray Answer = RawExchange(FService.Port(), bytes, halfClose, 1500);
        if (!answerStart.isEmpty()) {
            QVERIFY2(Answer.startsWith(answerStart), Answer.left(200).constData());
        }
        VerifyAlive();
    }

    // Whatever the framing, a body is cut off at 64 MiB, and one that needs a token is not read
    // at all without a valid one.
    void largeBodiesAreCutOff_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("repeatMiB");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("maxSentMiB"); // 0: no bound

        const QByteArray Send = "POST /api/image-transfer/send HTTP/1.1\r\nHost: x\r\n"
                                "Content-Type: multipart/form-data; boundary=zz\r\n";
        const QByteArray Extract = "POST /api/extraction/extract HTTP/1.1\r\nHost: x\r\n"
                                   "Content-Type: application/json\r\n";
        const QByteArray Chunked = "Transfer-Encoding: chunked\r\n";
        const QByteArray Auth = "Authorization: Bearer " + FToken.toUtf8() + "\r\n";
        const QByteArray Form = "--zz\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\n"
                                "chunked\r\n--zz--\r\n";
        // 72 MiB of zeros in a zlib stream of some 70 KiB.
        const QByteArray Deflated = qCompress(QByteArray(72 * 1024 * 1024, '\0')).mid(4);

        QTest::newRow("chunked form within the limit") << Send + Auth + Chunked + "\r\n"
                                                       << Form << 0 << true << 202 << 0;
        QTest::newRow("chunked body over 64 MiB") << Send + Auth + Chunked + "\r\n"
                                                  << QByteArray() << 72 << true << 413 << 0;
        QTest::newRow("body without a length over 64 MiB")
            << Send + Auth + "\r\n"
            << QByteArray() << 72 << false << 413 << 0;
        QTest::newRow("compressed body inflating past 64 MiB")
            << Extract + Auth + "Content-Encoding: deflate\r\nContent-Length: " +
                   QByteArray::number(Deflated.size()) + "\r\n\r\n"
            << Deflated << 0 << false << 413 << 0;
        QTest::newRow("chunked upload without a token") << Send + Chunked + "\r\n"
                                                        << QByteArray() << 80 << true << 401 << 16;
        QTest::newRow("chunked upload with an unknown token")
            << Send + "Authorization: Bearer nobody\r\n" + Chunked + "\r\n"
            << QByteArray() << 80 << true << 401 << 16;
        QTest::newRow("60 MiB upload without a token")
            << Send + "Content-Length: " + QByteArray::number(60 * 1024 * 1024) + "\r\n\r\n"
            << QByteArray() << 60 << false << 401 << 16;
        QTest::newRow("chunked extraction without a token")
            << Extract + Chunked + "\r\n"
            << QByteArray() << 80 << true << 401 << 16;
        // Routes that need no large body read at most 64 KiB, token or not: three 60 MB posts
        // to the sign-in must not cost the service 180 MB.
        const QByteArray Login = "POST /api/auth/login HTTP/1.1\r\nHost: x\r\n"
                                 "Content-Type: application/json\r\n";
        QTest::newRow("60 MiB sign-in")
            << Login + "Content-Length: " + QByteArray::number(60 * 1024 * 1024) + "\r\n\r\n"
            << QByteArray() << 60 << false << 413 << 16;
        QTest::newRow("chunked sign-in over 64 KiB") << Login + Chunked + "\r\n"
                                                     << QByteArray() << 80 << true << 413 << 16;
        QTest::newRow("sign-in without a length over 64 KiB")
            << Login + "\r\n"
            << QByteArray() << 80 << false << 413 << 16;
        QTest::newRow("stop with a token and a large body")
            << "POST /api/image-transfer/native/stop HTTP/1.1\r\nHost: x\r\n" + Auth + Chunked +
                   "\r\n"
            << QByteArray() << 80 << true << 413 << 16;
        QTest::newRow("the page with a large body")
            << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n")
            << QByteArray() << 1 << false << 413 << 16;
        QTest::newRow("an unknown path with a large body")
            << QByteArray("PUT /api/nothing HTTP/1.1\r\nHost: x\r\n") + Chunked + "\r\n"
            << QByteArray() << 80 << true << 413 << 16;
    }

    void largeBodiesAreCutOff() {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, body);
        QFETCH(int, repeatMiB);
        QFETCH(bool, chunked);
        QFETCH(int, status);
        QFETCH(int, maxSentMiB);

        const TStreamed Result = StreamRequest(FService.Port(), head, body, repeatMiB, chunked);
        const QByteArray StatusLine = "HTTP/1.1 " + QByteArray::number(status) + " ";
        QVERIFY2(Result.Answer.startsWith(StatusLine), Result.Answer.left(300).constData());
        QVERIFY(Result.Answer.contains("\"detail\"") || status < 300);
        if (maxSentMiB > 0) {
            QVERIFY2(Result.BodySent <= qint64(maxSentMiB) * 1024 * 1024,
                     qPrintable(QStringLiteral("%1 body bytes sent").arg(Result.BodySent)));
        }
        if (status == 202) {
            QCOMPARE(FService.Poll(FToken, 0).Body, QByteArray("chunked"));
        }
        VerifyAlive();
    }

    void manyAbandonedConnectionsAtOnce() {
        std::vector<std::thread> Threads;
        for (int i = 0; i < 30; ++i) {
            Threads.emplace_back([this, i] {
                RawExchange(
                    FService.Port(),
                    "POST /api/auth/login HTTP/1.1\r\nHost: x\r\nContent-Length: 50\r\n\r\n" +
                        RandomBytes(10, static_cast<quint32>(i)),
                    true, 500);
            });
        }
        for (auto& Thread : Threads) {
            Thread.join();
        }
        VerifyAlive();
    }
};

QTEST_GUILESS_MAIN(TRobustnessTest)
#include "tRobustness.moc"
