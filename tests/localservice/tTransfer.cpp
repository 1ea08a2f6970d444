// Sign-in, the phone's send and the receiver's long poll, against the real service.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QtTest>

#include <thread>
#include <vector>

#include "uLocalService.h"

namespace {

const QString kUser = QStringLiteral("demo@example.com:secret");
const QString kOther = QStringLiteral("other@example.com:pw2");
const QString kBusy = QStringLiteral("busy@example.com:pw3");
const QString kGone = QStringLiteral("gone@example.com:pw4");

using THeaders = TLocalService::THeaders;

// The receiver's decoding of "X-Image-Filename": "%%" is "%", "%XX" a byte, "+" a blank,
// other characters themselves; the bytes are UTF-8.
QString DecodeAsReceiver(const QByteArray& AValue, bool* AOk) {
    QByteArray Bytes;
    *AOk = true;
    for (qsizetype i = 0; i < AValue.size(); ++i) {
        const char C = AValue[i];
        if (C == '%') {
            if (i + 1 < AValue.size() && AValue[i + 1] == '%') {
                Bytes += '%';
                ++i;
                continue;
            }
            bool Hex = false;
            const int Byte = i + 2 < AValue.size() ? AValue.mid(i + 1, 2).toInt(&Hex, 16) : 0;
            if (!Hex) {
                *AOk = false;
                return {};
            }
            Bytes += static_cast<char>(Byte);
            i += 2;
        } else if (C == '+') {
            Bytes += ' ';
        } else {
            Bytes += C;
        }
    }
    return QString::fromUtf8(Bytes);
}

QByteArray Bearer(const QString& AToken) {
    return "Bearer " + AToken.toUtf8();
}

} // namespace

class TTransferTest : public QObject {
    Q_OBJECT

private:
    TLocalService FService;
    TLocalService FQuick; // long polls wait at most one second
    QString FToken;

private slots:
    void initTestCase() {
        TLocalService::TOptions Options;
        Options.Users << kOther << kBusy << kGone;
        QVERIFY(FService.Start(Options));
        FToken = FService.Token(kUser);
        QVERIFY(!FToken.isEmpty());
        TLocalService::TOptions Quick;
        Quick.ExtraArgs << QStringLiteral("--max-wait") << QStringLiteral("1");
        QVERIFY(FQuick.Start(Quick));
    }

    void cleanup() {
        // No test leaves an item behind for the next one.
        QCOMPARE(FService.Poll(FToken, 0).Status, 204);
    }

    void signIn_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("detailField"); // 422: the field named in loc

        QTest::newRow("right")
            << QByteArray(R"({"email":"demo@example.com","password":"secret","remember_me":true})")
            << 200 << QString();
        QTest::newRow("address in other case")
            << QByteArray(R"({"email":"Demo@Example.com","password":"secret","remember_me":true})")
            << 200 << QString();
        QTest::newRow("without remember_me")
            << QByteArray(R"({"email":"demo@example.com","password":"secret"})") << 200
            << QString();
        QTest::newRow("wrong password")
            << QByteArray(R"({"email":"demo@example.com","password":"Secret","remember_me":true})")
            << 401 << QString();
        QTest::newRow("unknown account")
            << QByteArray(
                   R"({"email":"nobody@example.com","password":"secret","remember_me":true})")
            << 401 << QString();
        QTest::newRow("another account's password")
            << QByteArray(R"({"email":"demo@example.com","password":"pw2"})") << 401 << QString();
        QTest::newRow("not JSON") << QByteArray("email=demo@example.com&password=secret") << 422
                                  << QStringLiteral("body");
        QTest::newRow("empty body") << QByteArray() << 422 << QStringLiteral("body");
        QTest::newRow("array") << QByteArray(R"(["demo@example.com","secret"])") << 422
                               << QStringLiteral("body");
        QTest::newRow("password missing")
            << QByteArray(R"({"email":"demo@example.com"})") << 422 << QStringLiteral("password");
        QTest::newRow("address is a number")
            << QByteArray(R"({"email":42,"password":"secret"})") << 422 << QStringLiteral("email");
        QTest::newRow("remember_me is text")
            << QByteArray(R"({"email":"demo@example.com","password":"secret","remember_me":"yes"})")
            << 422 << QStringLiteral("remember_me");
    }

    void signIn() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, detailField);

        const auto Reply = FService.Call("POST", QStringLiteral("/api/auth/login"),
                                         {{"Content-Type", "application/json"}}, body);
        QCOMPARE(Reply.Status, status);
        const QJsonObject Json = QJsonDocument::fromJson(Reply.Body).object();
        if (status == 200) {
            QVERIFY(!Json.value("access_token").toString().isEmpty());
            QCOMPARE(Json.value("token_type").toString(), QStringLiteral("bearer"));
        } else if (status == 401) {
            QCOMPARE(Json.value("detail").toString(),
                     QStringLiteral("メールアドレスまたはパスワードが正しくありません"));
        } else {
            const QJsonArray Detail = Json.value("detail").toArray();
            QVERIFY(!Detail.isEmpty());
            const QJsonObject First = Detail.first().toObject();
            QCOMPARE(First.value("loc").toArray().last().toString(), detailField);
            QVERIFY(!First.value("msg").toString().isEmpty());
            QVERIFY(!First.value("type").toString().isEmpty());
        }
    }

    void tokensAreDistinctAndAllValid() {
        const QString Second = FService.Token(kUser);
        QVERIFY(!Second.isEmpty());
        QVERIFY(Second != FToken);
        QCOMPARE(FService.Poll(FToken, 0).Status, 204);
        QCOMPARE(FService.Poll(Second, 0).Status, 204);
    }

    void fileRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("data");

        QByteArray Binary;
        for (int i = 0; i < 256; ++i) {
            Binary += static_cast<char>(i);
        }
        Binary += "\r\n--boundary\r\n";
        QTest::newRow("Japanese name with plus, percent and blanks")
            << QStringLiteral("検査 結果+100% (1)_a&b=c.jpg") << QByteArray("image/jpeg") << Binary;
        QTest::newRow("name that looks encoded")
            << QStringLiteral("%41%%2B+.png") << QByteArray("image/png") << QByteArray("png");
        QTest::newRow("character outside the BMP")
            << QStringLiteral("📷 写真.JPG") << QByteArray("image/jpeg") << QByteArray(4000, 'x');
        QTest::newRow("media type with a parameter")
            << QStringLiteral("report.pdf") << QByteArray("application/pdf; version=1.7")
            << QByteArray("%PDF-1.7");
        QTest::newRow("empty file")
            << QStringLiteral("empty.jpg") << QByteArray("image/jpeg") << QByteArray();
    }

    void fileRoundTrip() {
        QFETCH(QString, name);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, data);

        QCOMPARE(FService.SendFile(kUser, name, contentType, data), 202);
        const auto Reply = FService.Poll(FToken, 5);
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Header("Content-Type"), contentType);
        QCOMPARE(Reply.Body, data);
        const QByteArray Encoded = Reply.Header("X-Image-Filename");
        QVERIFY(!Encoded.contains(' '));
        bool Ok = false;
        QCOMPARE(DecodeAsReceiver(Encoded, &Ok), name);
        QVERIFY(Ok);
    }

    void textItems_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("sendName");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expectedName");

        QTest::newRow("without a name") << QStringLiteral("AST 25 U/L\r\nALT 30 U/L") << false
                                        << QString() << QStringLiteral("result.txt");
        QTest::newRow("named") << QStringLiteral("メモ") << true
                               << QStringLiteral("処方 2024+1.txt")
                               << QStringLiteral("処方 2024+1.txt");
        QTest::newRow("empty name")
            << QStringLiteral("x") << true << QString() << QStringLiteral("result.txt");
        QTest::newRow("empty text")
            << QString() << false << QString() << QStringLiteral("result.txt");
    }

    void textItems() {
        QFETCH(QString, text);
        QFETCH(bool, sendName);
        QFETCH(QString, name);
        QFETCH(QString, expectedName);

        QCOMPARE(
            FService.SendText(kUser, text,
                              sendName ? (name.isNull() ? QStringLiteral("") : name) : QString()),
            202);
        const auto Reply = FService.Poll(FToken, 5);
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
        QCOMPARE(Reply.Body, text.toUtf8());
        bool Ok = false;
        QCOMPARE(DecodeAsReceiver(Reply.Header("X-Image-Filename"), &Ok), expectedName);
    }

    void waitParameter_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        QTest::newRow("no wait answers at once") << QString() << 204 << 0 << 700;
        QTest::newRow("zero") << QStringLiteral("?wait=0") << 204 << 0 << 700;
        QTest::newRow("negative is clamped to zero")
            << QStringLiteral("?wait=-5") << 204 << 0 << 700;
        QTest::newRow("one second") << QStringLiteral("?wait=1") << 204 << 900 << 4000;
        QTest::newRow("above the limit is clamped")
            << QStringLiteral("?wait=30") << 204 << 900 << 4000;
        QTest::newRow("beyond any integer is clamped")
            << QStringLiteral("?wait=99999999999999999999") << 204 << 900 << 4000;
        QTest::newRow("not a number") << QStringLiteral("?wait=abc") << 422 << 0 << 700;
        QTest::newRow("fraction") << QStringLiteral("?wait=1.5") << 422 << 0 << 700;
    }

    void waitParameter() {
        QFETCH(QString, query);
        QFETCH(int, status);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);

        const QString Token = FQuick.Token(kUser);
        QElapsedTimer Timer;
        Timer.start();
        const auto Reply = FQuick.Call("GET", "/api/image-transfer/native/poll" + query,
                                       {{"Authorization", Bearer(Token)}});
        const qint64 Elapsed = Timer.elapsed();
        QCOMPARE(Reply.Status, status);
        QVERIFY2(Elapsed >= minMs && Elapsed <= maxMs, qPrintable(QString::number(Elapsed)));
        if (status == 204) {
            QVERIFY(Reply.Body.isEmpty());
        } else {
            QVERIFY(QJsonDocument::fromJson(Reply.Body).object().value("detail").isArray());
        }
    }

    void refusedWithoutValidToken_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("authorization");

        const QString Poll = QStringLiteral("/api/image-transfer/native/poll?wait=5");
        QTest::newRow("poll without token") << QByteArray("GET") << Poll << QByteArray();
        QTest::newRow("poll with unknown token")
            << QByteArray("GET") << Poll << QByteArray("Bearer nonsense");
        QTest::newRow("poll with bare prefix")
            << QByteArray("GET") << Poll << QByteArray("Bearer ");
        QTest::newRow("poll with basic scheme")
            << QByteArray("GET") << Poll << QByteArray("Basic ZGVtbzpzZWNyZXQ=");
        QTest::newRow("stop") << QByteArray("POST")
                              << QStringLiteral("/api/image-transfer/native/stop") << QByteArray();
        QTest::newRow("send") << QByteArray("POST") << QStringLiteral("/api/image-transfer/send")
                              << QByteArray("Bearer x");
        QTest::newRow("get items")
            << QByteArray("GET") << QStringLiteral("/api/extraction/items") << QByteArray();
        QTest::newRow("put items")
            << QByteArray("PUT") << QStringLiteral("/api/extraction/items") << QByteArray();
        QTest::newRow("extract") << QByteArray("POST") << QStringLiteral("/api/extraction/extract")
                                 << QByteArray();
        QTest::newRow("upload") << QByteArray("POST") << QStringLiteral("/api/image-jobs/upload")
                                << QByteArray();
    }

    void refusedWithoutValidToken() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, authorization);

        THeaders Headers;
        if (!authorization.isEmpty()) {
            Headers.append({"Authorization", authorization});
        }
        QElapsedTimer Timer;
        Timer.start();
        const auto Reply = FService.Call(method, path, Headers, "{}");
        QCOMPARE(Reply.Status, 401);
        QVERIFY(Timer.elapsed() < 2000); // a refused poll does not wait
        QVERIFY(!QJsonDocument::fromJson(Reply.Body).object().value("detail").toString().isEmpty());
    }

    void stopAcceptsAnyBody() {
        for (const QByteArray& Body :
             {QByteArray(), QByteArray("{}"), QByteArray("\x01\x02junk")}) {
            const auto Reply =
                FService.Call("POST", QStringLiteral("/api/image-transfer/native/stop"),
                              {{"Authorization", Bearer(FToken)}}, Body);
            QCOMPARE(Reply.Status, 200);
            QCOMPARE(QJsonDocument::fromJson(Reply.Body).object().value("ok").toBool(), true);
        }
    }

    void itemsComeOutOldestFirst() {
        for (const char* Text : {"first", "second", "third"}) {
            QCOMPARE(FService.SendText(kUser, QString::fromLatin1(Text)), 202);
        }
        QCOMPARE(FService.Poll(FToken, 1).Body, QByteArray("first"));
        QCOMPARE(FService.Poll(FToken, 1).Body, QByteArray("second"));
        QCOMPARE(FService.Poll(FToken, 1).Body, QByteArray("third"));
        QCOMPARE(FService.Poll(FToken, 0).Status, 204);
    }

    void sendRejectsBadForms_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");

        const QByteArray Form = "multipart/form-data; boundary=XyZ";
        QTest::newRow("JSON instead of a form")
            << QByteArray("application/json") << QByteArray(R"({"text":"x"})");
        QTest::newRow("neither file nor text")
            << Form
            << QByteArray("--XyZ\r\nContent-Disposition: form-data; "
                          "name=\"filename\"\r\n\r\na.txt\r\n--XyZ--\r\n");
        QTest::newRow("both file and text")
            << Form
            << QByteArray("--XyZ\r\nContent-Disposition: form-data; name=\"file\"; "
                          "filename=\"a.jpg\"\r\n\r\nx\r\n--XyZ\r\nContent-Disposition: form-data; "
                          "name=\"text\"\r\n\r\ny\r\n--XyZ--\r\n");
        QTest::newRow("no closing boundary")
            << Form
            << QByteArray("--XyZ\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\nhello");
        QTest::newRow("boundary missing")
            << QByteArray("multipart/form-data") << QByteArray("--XyZ--\r\n");
        QTest::newRow("file name over 1 KiB")
            << Form
            << "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                   QByteArray(1100, 'n') + "\"\r\n\r\nx\r\n--XyZ--\r\n";
        QTest::newRow("control character in the media type")
            << Form
            << QByteArray("--XyZ\r\nContent-Disposition: form-data; name=\"file\"; "
                          "filename=\"a.jpg\"\r\nContent-Type: image/jpeg\nX-Evil: 1\r\n\r\nx\r\n"
                          "--XyZ--\r\n");
        QTest::newRow("part without disposition")
            << Form << QByteArray("--XyZ\r\nContent-Type: text/plain\r\n\r\nx\r\n--XyZ--\r\n");
        const QByteArray TextPart =
            "--XyZ\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\nx\r\n--XyZ--\r\n";
        QTest::newRow("unterminated quoted boundary")
            << QByteArray("multipart/form-data; boundary=\"XyZ") << TextPart;
        QTest::newRow("boundary followed by extra semicolons")
            << QByteArray("multipart/form-data; boundary=XyZ;;") << TextPart;
        QTest::newRow("boundary followed by one semicolon")
            << QByteArray("multipart/form-data; boundary=XyZ;") << TextPart;
        QTest::newRow("text after a quoted boundary")
            << QByteArray("multipart/form-data; boundary=\"XyZ\"abc") << TextPart;
        QTest::newRow("unterminated name")
            << Form
            << QByteArray("--XyZ\r\nContent-Disposition: form-data; name=\"text\r\n\r\nx\r\n"
                          "--XyZ--\r\n");
        QTest::newRow("parameter without a value")
            << Form
            << QByteArray("--XyZ\r\nContent-Disposition: form-data; name=\"text\"; x\r\n\r\n"
                          "x\r\n--XyZ--\r\n");
        const auto ExtendedName = [](const QByteArray& AValue) {
            return "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.jpg\"; "
                   "filename*=" +
                   AValue + "\r\n\r\nx\r\n--XyZ--\r\n";
        };
        QTest::newRow("filename* without charset") << Form << ExtendedName("a.jpg");
        QTest::newRow("filename* with a broken escape") << Form << ExtendedName("UTF-8''a%4.jpg");
        QTest::newRow("filename* with a non-hex escape") << Form << ExtendedName("UTF-8''%zz.jpg");
        QTest::newRow("filename* in another charset")
            << Form << ExtendedName("ISO-8859-1''%E9.jpg");
    }

    void sendRejectsBadForms() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);

        const auto Reply =
            FService.Call("POST", QStringLiteral("/api/image-transfer/send"),
                          {{"Authorization", Bearer(FToken)}, {"Content-Type", contentType}}, body);
        QCOMPARE(Reply.Status, 422);
        QVERIFY(QJsonDocument::fromJson(Reply.Body).object().contains("detail"));
        QCOMPARE(FService.Poll(FToken, 0).Status, 204); // nothing was queued
    }

    void extendedFileName_data() {
        QTest::addColumn<QByteArray>("disposition");
        QTest::addColumn<QString>("name");

        QTest::newRow("filename* wins over filename")
            << QByteArray("form-data; name=\"file\"; filename=\"fallback.jpg\"; "
                          "filename*=UTF-8''%E5%86%99%E7%9C%9F%201.jpg")
            << QStringLiteral("写真 1.jpg");
        QTest::newRow("charset in lower case, with a language")
            << QByteArray("form-data; name=\"file\"; filename*=utf-8'ja'a%2Bb.jpg")
            << QStringLiteral("a+b.jpg");
        QTest::newRow("quoted parameters with semicolons and escapes")
            << QByteArray("form-data; name=\"file\"; filename=\"a;b \\\"c\\\".jpg\"")
            << QStringLiteral("a;b \"c\".jpg");
    }

    void extendedFileName() {
        QFETCH(QByteArray, disposition);
        QFETCH(QString, name);

        const QByteArray Body = "--XyZ\r\nContent-Disposition: " + disposition +
                                "\r\nContent-Type: image/jpeg\r\n\r\nx\r\n--XyZ--\r\n";
        const auto Reply =
            FService.Call("POST", QStringLiteral("/api/image-transfer/send"),
                          {{"Authorization", Bearer(FToken)},
                           {"Content-Type", "multipart/form-data; boundary=XyZ ; charset=utf-8"}},
                          Body);
        QCOMPARE(Reply.Status, 202);
        const auto Item = FService.Poll(FToken, 1);
        QCOMPARE(Item.Status, 200);
        bool Ok = false;
        QCOMPARE(DecodeAsReceiver(Item.Header("X-Image-Filename"), &Ok), name);
    }

    // The bodies an account's queue holds are bounded, a full queue refuses with 503 and says
    // why, and delivering an item makes room again.
    void queuedBytesAreBounded() {
        TLocalService Small;
        TLocalService::TOptions Options;
        Options.Users << kOther;
        Options.ExtraArgs << QStringLiteral("--max-queued-mib") << QStringLiteral("1");
        QVERIFY(Small.Start(Options));
        const QString Token = Small.Token(kUser);
        const auto SendFile = [&](const QByteArray& AData) {
            const QByteArray Body = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; "
                                    "filename=\"a.jpg\"\r\n\r\n" +
                                    AData + "\r\n--XyZ--\r\n";
            return Small.Call("POST", QStringLiteral("/api/image-transfer/send"),
                              {{"Authorization", Bearer(Token)},
                               {"Content-Type", "multipart/form-data; boundary=XyZ"}},
                              Body);
        };
        const QByteArray First(400 * 1024, '1');
        const QByteArray Second(400 * 1024, '2');
        QCOMPARE(SendFile(First).Status, 202);
        QCOMPARE(SendFile(Second).Status, 202);
        const auto Full = SendFile(QByteArray(300 * 1024, '3'));
        QCOMPARE(Full.Status, 503);
        const QString Detail =
            QJsonDocument::fromJson(Full.Body).object().value("detail").toString();
        QVERIFY2(Detail.contains(QStringLiteral("1 MiB")), qPrintable(Detail));
        // A small item still fits, and another account has its own room.
        QCOMPARE(SendFile(QByteArray(100 * 1024, '4')).Status, 202);
        QCOMPARE(Small.SendFile(kOther, QStringLiteral("b.jpg"), "image/jpeg", Second), 202);
        // One item alone larger than the limit never fits.
        QCOMPARE(Small.SendFile(kOther, QStringLiteral("c.jpg"), "image/jpeg",
                                QByteArray(1100 * 1024, 'c')),
                 503);

        QCOMPARE(Small.Poll(Token, 1).Body, First);
        // The room comes back once the service has written the answer whole, which may be a
        // moment after the receiver has read it. (Not QTRY_COMPARE: it sends once more at the
        // end.)
        int Status = 0;
        for (int Attempt = 0; Attempt < 50 && Status != 202; ++Attempt) {
            Status = SendFile(QByteArray(300 * 1024, '3')).Status;
            if (Status != 202) {
                QTest::qWait(20);
            }
        }
        QCOMPARE(Status, 202);
        QCOMPARE(Small.Poll(Token, 1).Body, Second);
        QCOMPARE(Small.Poll(Token, 1).Body, QByteArray(100 * 1024, '4'));
        QCOMPARE(Small.Poll(Token, 1).Body, QByteArray(300 * 1024, '3'));
        QCOMPARE(Small.Poll(Token, 0).Status, 204);
    }

    void accountsDoNotBlockEachOther() {
        const QString Other = FService.Token(kOther);
        TLocalService::TReply OtherReply;
        std::jthread Waiting(
            [&] { OtherReply = FService.Poll(Other, 10); }); // joins even on failure
        QTest::qWait(200);

        QElapsedTimer Timer;
        Timer.start();
        QCOMPARE(FService.SendText(kUser, QStringLiteral("for demo")), 202);
        const auto Mine = FService.Poll(FToken, 5);
        QVERIFY(Timer.elapsed() < 2000);
        QCOMPARE(Mine.Body, QByteArray("for demo"));

        QCOMPARE(FService.SendText(kOther, QStringLiteral("for other")), 202);
        Waiting.join();
        QCOMPARE(OtherReply.Status, 200);
        QCOMPARE(OtherReply.Body, QByteArray("for other"));
        QVERIFY(Timer.elapsed() < 5000);
    }

    // 40 receivers hold long polls; a sign-in still gets through at once, and the 40 items sent
    // afterwards reach the 40 polls one each.
    void longPollsDoNotStarveOtherRequests() {
        constexpr int kPolls = 40;
        const QString Token = FService.Token(kBusy);
        std::vector<TLocalService::TReply> Replies(kPolls);
        std::vector<std::jthread> Threads; // joined even when a check fails
        for (int i = 0; i < kPolls; ++i) {
            Threads.emplace_back(
                [&, i] { Replies[static_cast<size_t>(i)] = FService.Poll(Token, 8); });
        }
        QTest::qWait(500);

        QElapsedTimer Timer;
        Timer.start();
        QVERIFY(!FService.Token(kUser).isEmpty());
        QVERIFY2(Timer.elapsed() < 2000, qPrintable(QString::number(Timer.elapsed())));

        for (int i = 0; i < kPolls; ++i) {
            QCOMPARE(FService.SendText(kBusy, QString::number(i)), 202);
        }
        for (auto& Thread : Threads) {
            Thread.join();
        }
        QSet<QByteArray> Bodies;
        for (const auto& Reply : Replies) {
            QCOMPARE(Reply.Status, 200);
            Bodies.insert(Reply.Body);
        }
        QCOMPARE(Bodies.size(), kPolls);
        QVERIFY(Timer.elapsed() < 15000);
    }

    // A receiver that stops has cut its own waiting poll; the service ends that poll
    // instead of handing it the next item. Another receiver of the account keeps waiting.
    void stopEndsTheReceiversWaitingPoll() {
        const QString Token = FService.Token(kGone);
        const QString Other = FService.Token(kGone);
        TLocalService::TReply Stopped, Waiting;
        QElapsedTimer Timer;
        Timer.start();
        std::jthread Mine([&] { Stopped = FService.Poll(Token, 20); });
        std::jthread Theirs([&] { Waiting = FService.Poll(Other, 20); });
        QTest::qWait(300);
        QCOMPARE(FService
                     .Call("POST", QStringLiteral("/api/image-transfer/native/stop"),
                           {{"Authorization", Bearer(Token)}})
                     .Status,
                 200);
        Mine.join();
        QCOMPARE(Stopped.Status, 204);
        QVERIFY2(Timer.elapsed() < 5000, qPrintable(QString::number(Timer.elapsed())));
        QCOMPARE(FService.SendText(kGone, QStringLiteral("for the other")), 202);
        Theirs.join();
        QCOMPARE(Waiting.Status, 200);
        QCOMPARE(Waiting.Body, QByteArray("for the other"));
        // A later poll with the stopped token works as before.
        QCOMPARE(FService.SendText(kGone, QStringLiteral("later")), 202);
        QCOMPARE(FService.Poll(Token, 5).Body, QByteArray("later"));
    }

    void itemOfVanishedReceiverIsKept() {
        const QString Token = FService.Token(kGone);
        // The receiver gives up after half a second while the service still waits for an item.
        const auto Abandoned = FService.Poll(Token, 10, 500);
        QCOMPARE(Abandoned.Status, 0);
        QCOMPARE(FService.SendText(kGone, QStringLiteral("kept")), 202);

        const auto Reply = FService.Poll(Token, 5);
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Body, QByteArray("kept"));
        QCOMPARE(FService.Poll(Token, 0).Status, 204); // delivered exactly once
    }
};

QTEST_GUILESS_MAIN(TTransferTest)
#include "tTransfer.moc"
