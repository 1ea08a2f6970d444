// The test hooks: scripted responses and the record of requests.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <zlib.h>

#include "uLocalService.h"

namespace {

const QString kUser = QStringLiteral("demo@example.com:secret");
const QString kLogin = QStringLiteral("/api/auth/login");
const QByteArray kLoginBody =
    R"({"email":"demo@example.com","password":"secret","remember_me":true})";

// Inflates with the given window bits: 31 gzip, 15 zlib, -15 raw deflate.
QByteArray Inflate(const QByteArray& AData, int AWindowBits) {
    z_stream Stream{};
    if (inflateInit2(&Stream, AWindowBits) != Z_OK) {
        return {};
    }
    QByteArray Out;
    char Buffer[4096];
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(AData.constData()));
    Stream.avail_in = static_cast<uInt>(AData.size());
    int Result = Z_OK;
    while (Result == Z_OK) {
        Stream.next_out = reinterpret_cast<Bytef*>(Buffer);
        Stream.avail_out = sizeof(Buffer);
        Result = inflate(&Stream, Z_NO_FLUSH);
        Out.append(Buffer, static_cast<qsizetype>(sizeof(Buffer) - Stream.avail_out));
    }
    inflateEnd(&Stream);
    return Result == Z_STREAM_END ? Out : QByteArray("<inflate failed>");
}

} // namespace

class TTestHooksTest : public QObject {
    Q_OBJECT

private:
    TLocalService FService;

    TLocalService::TReply Login() {
        return FService.Call("POST", kLogin, {{"Content-Type", "application/json"}}, kLoginBody);
    }

private slots:
    void initTestCase() { QVERIFY(FService.Start()); }
    void init() { FService.Reset(); }

    void scriptedBodyIsCompressedAsAsked_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("windowBits");

        QTest::newRow("plain") << QByteArray() << QByteArray() << 0;
        QTest::newRow("gzip") << QByteArray("gzip") << QByteArray("gzip") << 31;
        QTest::newRow("deflate with zlib wrapper")
            << QByteArray("deflate") << QByteArray("deflate") << 15;
        QTest::newRow("raw deflate") << QByteArray("raw-deflate") << QByteArray("deflate") << -15;
    }

    void scriptedBodyIsCompressedAsAsked() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, header);
        QFETCH(int, windowBits);

        const QByteArray Body =
            QStringLiteral(R"({"access_token":"トークン","token_type":"bearer"})")
                .toUtf8()
                .repeated(20);
        TLocalService::TScript Script;
        Script.Path = kLogin;
        Script.Status = 201;
        Script.Headers = {{"Content-Type", "application/json; charset=utf-8"}, {"X-Extra", "a b"}};
        Script.Body = Body;
        Script.ContentEncoding = encoding;
        FService.Script(Script);

        // The client asks for compression too: the scripted bytes must still go out unchanged.
        const auto Reply =
            FService.Call("POST", kLogin, {{"Accept-Encoding", "gzip, deflate"}}, kLoginBody);
        QCOMPARE(Reply.Status, 201);
        QCOMPARE(Reply.Header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        QCOMPARE(Reply.Header("X-Extra"), QByteArray("a b"));
        QCOMPARE(Reply.Header("Content-Encoding"), header);
        QCOMPARE(windowBits == 0 ? Reply.Body : Inflate(Reply.Body, windowBits), Body);
    }

    void scriptsAreUsedOnceInOrderBeforeTheRealHandler() {
        for (const int Status : {500, 503}) {
            TLocalService::TScript Script;
            Script.Path = kLogin;
            Script.Status = Status;
            Script.Body = QByteArray::number(Status);
            FService.Script(Script);
        }
        QCOMPARE(Login().Body, QByteArray("500"));
        QCOMPARE(Login().Body, QByteArray("503"));
        QCOMPARE(Login().Status, 200);
    }

    void scriptMatchesThePathWithoutQuery() {
        TLocalService::TScript Script;
        Script.Path = QStringLiteral("/api/image-transfer/native/poll");
        Script.Status = 200;
        Script.Headers = {{"Content-Type", "text/plain"}, {"X-Image-Filename", "a%2Bb.txt"}};
        Script.Body = "scripted item";
        FService.Script(Script);

        // No token: the script answers before any check of the real handler.
        const auto Reply =
            FService.Call("GET", QStringLiteral("/api/image-transfer/native/poll?wait=25"));
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Body, QByteArray("scripted item"));
        QCOMPARE(Reply.Header("X-Image-Filename"), QByteArray("a%2Bb.txt"));
    }

    void scriptWithoutContentTypeSendsNoMediaType() {
        TLocalService::TScript Script;
        Script.Path = kLogin;
        Script.Body = "abc";
        FService.Script(Script);
        const auto Reply = Login();
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Body, QByteArray("abc"));
        QCOMPARE(Reply.Header("Content-Type"), QByteArray());
    }

    void scriptedErrorKeepsItsEmptyBody() {
        TLocalService::TScript Script;
        Script.Path = kLogin;
        Script.Status = 401;
        FService.Script(Script);
        const auto Reply = Login();
        QCOMPARE(Reply.Status, 401);
        QVERIFY(Reply.Body.isEmpty());
        QVERIFY(!Reply.HasHeader("Content-Type"));
    }

    void scriptIsDelayed() {
        TLocalService::TScript Script;
        Script.Path = kLogin;
        Script.DelayMs = 400;
        Script.Body = "late";
        FService.Script(Script);
        QElapsedTimer Timer;
        Timer.start();
        QCOMPARE(Login().Body, QByteArray("late"));
        QVERIFY(Timer.elapsed() >= 400);
    }

    void droppedConnectionIsATransportError_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("with a body") << QByteArray("{\"access_token\":\"x\"}");
        QTest::newRow("without a body") << QByteArray();
    }

    void droppedConnectionIsATransportError() {
        QFETCH(QByteArray, body);
        TLocalService::TScript Script;
        Script.Path = kLogin;
        Script.Body = body;
        Script.Drop = true;
        FService.Script(Script);
        const auto Reply = Login();
        QCOMPARE(Reply.Status, 0);
        QVERIFY(!Reply.Error.isEmpty());
        QCOMPARE(Login().Status, 200); // the next request is served normally
    }

    void recordKeepsTheRawMultipartBody() {
        const QString Token = FService.Token(kUser);
        FService.Reset();
        QByteArray File;
        for (int i = 0; i < 512; ++i) {
            File += static_cast<char>(i * 7);
        }
        File += "\r\n--notTheBoundary\r\n";
        const QByteArray ContentType = "multipart/form-data; boundary=\"b;oundary 1\"";
        const QByteArray Body =
            "--b;oundary 1\r\n"
            "Content-Disposition: form-data; name=\"file\"; filename=\"検査 1.jpg\"\r\n"
            "Content-Type: image/jpeg\r\n\r\n" +
            File +
            "\r\n"
            "--b;oundary 1--\r\n";
        const auto Sent = FService.Call("POST", QStringLiteral("/api/image-transfer/send?via=test"),
                                        {{"Authorization", "Bearer " + Token.toUtf8()},
                                         {"Content-Type", ContentType},
                                         {"X-Trace", "t1"}},
                                        Body);
        QCOMPARE(Sent.Status, 202);

        const auto Requests = FService.Requests();
        QCOMPARE(Requests.size(), 1);
        const auto& Recorded = Requests.first();
        QCOMPARE(Recorded.Method, QByteArray("POST"));
        QCOMPARE(Recorded.Path, QByteArray("/api/image-transfer/send"));
        QCOMPARE(Recorded.Target, QByteArray("/api/image-transfer/send?via=test"));
        QCOMPARE(Recorded.Header("content-type"), ContentType);
        QCOMPARE(Recorded.Header("X-Trace"), QByteArray("t1"));
        QVERIFY(!Recorded.HasHeader("REMOTE_ADDR"));
        QCOMPARE(Recorded.Body, Body);

        // The form was read from the same bytes.
        const auto Polled = FService.Poll(Token, 1);
        QCOMPARE(Polled.Body, File);
        QCOMPARE(Polled.Header("Content-Type"), QByteArray("image/jpeg"));
    }

    void recordHoldsEveryRequestInArrivalOrder() {
        TLocalService::TScript Script;
        Script.Path = QStringLiteral("/scripted");
        FService.Script(Script);
        FService.Call("GET", QStringLiteral("/scripted?x=1"));
        FService.Call("DELETE", QStringLiteral("/unknown"));
        Login();
        FService.Call("GET", QStringLiteral("/_test/requests")); // hook requests are not recorded

        const auto Requests = FService.Requests();
        QCOMPARE(Requests.size(), 3);
        QCOMPARE(Requests[0].Target, QByteArray("/scripted?x=1"));
        QCOMPARE(Requests[0].Path, QByteArray("/scripted"));
        QCOMPARE(Requests[1].Method, QByteArray("DELETE"));
        QCOMPARE(Requests[2].Path, kLogin.toUtf8());
        QCOMPARE(Requests[2].Body, kLoginBody);
        QCOMPARE(Requests[2].Header("Content-Type"), QByteArray("application/json"));
    }

    void resetForgetsScriptsAndRecord() {
        TLocalService::TScript Script;
        Script.Path = kLogin;
        Script.Status = 500;
        FService.Script(Script);
        FService.Reset();
        QCOMPARE(Login().Status, 200);
        FService.Reset();
        QVERIFY(FService.Requests().isEmpty());
    }

    void badScriptsAreRefused_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("field");

        QTest::newRow("not JSON") << QByteArray("path=/x") << QStringLiteral("body");
        QTest::newRow("path missing") << QByteArray(R"({"status":200})") << QStringLiteral("path");
        QTest::newRow("relative path") << QByteArray(R"({"path":"api"})") << QStringLiteral("path");
        QTest::newRow("status too small")
            << QByteArray(R"({"path":"/x","status":99})") << QStringLiteral("status");
        QTest::newRow("status as text")
            << QByteArray(R"({"path":"/x","status":"200"})") << QStringLiteral("status");
        QTest::newRow("header not a pair")
            << QByteArray(R"({"path":"/x","headers":[["A"]]})") << QStringLiteral("0");
        QTest::newRow("header with line break")
            << QByteArray(R"({"path":"/x","headers":[["A","b\r\nC: d"]]})") << QStringLiteral("0");
        QTest::newRow("content length header")
            << QByteArray(R"({"path":"/x","headers":[["Content-Length","5"]]})")
            << QStringLiteral("0");
        QTest::newRow("bad base64")
            << QByteArray(R"({"path":"/x","body_base64":"***"})") << QStringLiteral("body_base64");
        QTest::newRow("unknown encoding") << QByteArray(R"({"path":"/x","content_encoding":"br"})")
                                          << QStringLiteral("content_encoding");
        QTest::newRow("negative delay")
            << QByteArray(R"({"path":"/x","delay_ms":-1})") << QStringLiteral("delay_ms");
        QTest::newRow("drop as text")
            << QByteArray(R"({"path":"/x","drop":"yes"})") << QStringLiteral("drop");
    }

    void badScriptsAreRefused() {
        QFETCH(QByteArray, body);
        QFETCH(QString, field);
        const auto Reply = FService.Call("POST", QStringLiteral("/_test/script"),
                                         {{"Content-Type", "application/json"}}, body);
        QCOMPARE(Reply.Status, 422);
        const QJsonValue Last = QJsonDocument::fromJson(Reply.Body)
                                    .object()
                                    .value("detail")
                                    .toArray()
                                    .first()
                                    .toObject()
                                    .value("loc")
                                    .toArray()
                                    .last();
        QCOMPARE(Last.isDouble() ? QString::number(Last.toInt()) : Last.toString(), field);
        QCOMPARE(FService.Call("GET", QStringLiteral("/x")).Status, 404); // nothing was queued
    }

    void hooksExistOnlyWhenAsked() {
        TLocalService Plain;
        TLocalService::TOptions Options;
        Options.TestHooks = false;
        QVERIFY(Plain.Start(Options));
        QCOMPARE(Plain.Call("GET", QStringLiteral("/_test/requests")).Status, 404);
        QCOMPARE(Plain
                     .Call("POST", QStringLiteral("/_test/script"), {},
                           R"({"path":"/api/auth/login","status":500})")
                     .Status,
                 404);
        QCOMPARE(
            Plain.Call("POST", kLogin, {{"Content-Type", "application/json"}}, kLoginBody).Status,
            200);
    }
};

QTEST_GUILESS_MAIN(TTestHooksTest)
#include "tTestHooks.moc"
