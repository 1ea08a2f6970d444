// The sending page as the service serves it, and the service's rules for browsers: only its
// own page may call it, and a body over the configured limit is refused with a clear detail.
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "uLocalService.h"

namespace {

const QString kUser = QStringLiteral("demo@example.com:secret");
constexpr int kMaxBodyMiB = 1;

using THeaders = TLocalService::THeaders;

QByteArray TextForm(const QByteArray& AText) {
    return "--zz\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\n" + AText +
           "\r\n--zz--\r\n";
}

QString Detail(const TLocalService::TReply& AReply) {
    return QJsonDocument::fromJson(AReply.Body).object().value("detail").toString();
}

bool HasCorsHeader(const TLocalService::TReply& AReply) {
    for (const auto& Header : AReply.Headers) {
        if (Header.first.toLower().startsWith("access-control-")) {
            return true;
        }
    }
    return false;
}

} // namespace

class TSendPageTest : public QObject {
    Q_OBJECT

    TLocalService FService;
    QByteArray FOwnOrigin;

    TLocalService::TReply SendText(const THeaders& AExtra, const QByteArray& AText = "メモ") {
        THeaders Headers{{"Authorization", "Bearer " + FService.Token(kUser).toUtf8()},
                         {"Content-Type", "multipart/form-data; boundary=zz"}};
        Headers += AExtra;
        return FService.Call("POST", "/api/image-transfer/send", Headers, TextForm(AText));
    }

private slots:
    void initTestCase() {
        TLocalService::TOptions Options;
        Options.ExtraArgs = {"--max-body-mib", QString::number(kMaxBodyMiB)};
        QVERIFY(FService.Start(Options));
        FOwnOrigin = FService.BaseUrl().toUtf8();
    }

    void init() { FService.Reset(); }

    void pageIsServed_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("GET /") << QByteArray("GET") << "/";
        QTest::newRow("GET /send") << QByteArray("GET") << "/send";
        QTest::newRow("GET with a query") << QByteArray("GET") << "/send?from=qr";
        QTest::newRow("HEAD /") << QByteArray("HEAD") << "/";
    }

    void pageIsServed() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        const auto Reply = FService.Call(method, path);
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Header("Content-Type"), QByteArray("text/html; charset=utf-8"));
        QCOMPARE(Reply.Header("Cache-Control"), QByteArray("no-store"));
        const QByteArray Policy = Reply.Header("Content-Security-Policy");
        for (const QByteArray& Rule :
             {QByteArray("default-src 'none'"), QByteArray("script-src 'sha256-"),
              QByteArray("connect-src 'self'"), QByteArray("form-action 'none'")}) {
            QVERIFY2(Policy.contains(Rule), Policy.constData());
        }
        if (method == "HEAD") {
            QVERIFY(Reply.Body.isEmpty());
            return;
        }
        const QByteArray Camera = "<input id=\"camera\" class=\"file\" type=\"file\" "
                                  "accept=\"image/*\" capture=\"environment\" multiple>";
        QVERIFY(Reply.Body.contains(Camera));
        // Self-contained: nothing is loaded from anywhere, the markers became the inline parts.
        QVERIFY(!Reply.Body.contains("http://") && !Reply.Body.contains("https://"));
        QVERIFY(!Reply.Body.contains("<!-- style -->") && !Reply.Body.contains("<!-- script -->"));
        QCOMPARE(Reply.Body.count("<script>"), 1);
        QCOMPARE(Reply.Body.count("<style>"), 1);
    }

    void otherMethodsAndPaths_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("POST /") << QByteArray("POST") << "/" << 405;
        QTest::newRow("PUT /send") << QByteArray("PUT") << "/send" << 405;
        QTest::newRow("a page below /send") << QByteArray("GET") << "/send/x" << 404;
        QTest::newRow("another page") << QByteArray("GET") << "/index.html" << 404;
    }

    void otherMethodsAndPaths() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        const auto Reply = FService.Call(method, path, {}, "x");
        QCOMPARE(Reply.Status, status);
        QVERIFY(!Detail(Reply).isEmpty());
    }

    // A browser names the page that makes a request; a program sends no Origin at all.
    void onlyTheOwnOriginMaySend_data() {
        QTest::addColumn<QByteArray>("origin"); // empty: no Origin header
        QTest::addColumn<int>("status");
        const QByteArray Own = FService.BaseUrl().toUtf8();
        const QByteArray Port = QByteArray::number(FService.Port());
        QTest::newRow("no origin (a program)") << QByteArray() << 202;
        QTest::newRow("the service's own page") << Own << 202;
        QTest::newRow("own origin in capitals") << Own.toUpper() << 202;
        QTest::newRow("another port")
            << "http://127.0.0.1:" + QByteArray::number(FService.Port() + 1) << 403;
        QTest::newRow("another host name") << "http://localhost:" + Port << 403;
        QTest::newRow("https for http") << "https://127.0.0.1:" + Port << 403;
        QTest::newRow("no port") << QByteArray("http://127.0.0.1") << 403;
        QTest::newRow("an opaque origin") << QByteArray("null") << 403;
        QTest::newRow("own origin with a path") << Own + "/" << 403;
        QTest::newRow("own origin as a prefix") << Own + "0" << 403;
    }

    void onlyTheOwnOriginMaySend() {
        QFETCH(QByteArray, origin);
        QFETCH(int, status);
        const auto Reply = SendText(origin.isEmpty() ? THeaders{} : THeaders{{"Origin", origin}});
        QCOMPARE(Reply.Status, status);
        QVERIFY(!HasCorsHeader(Reply));
        const int Expected = status == 202 ? 200 : 204;
        QCOMPARE(FService.Poll(FService.Token(kUser), 0).Status, Expected);
        if (status == 403) {
            QCOMPARE(Detail(Reply), QStringLiteral("ほかのサイトのページからは利用できません"));
        }
    }

    void foreignPagesGetNoAnswerToRead_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("preflight of a send")
            << QByteArray("OPTIONS") << "/api/image-transfer/send" << QByteArray();
        QTest::newRow("sign-in") << QByteArray("POST") << "/api/auth/login"
                                 << QByteArray(
                                        "{\"email\":\"demo@example.com\",\"password\":\"secret\"}");
        QTest::newRow("poll") << QByteArray("GET") << "/api/image-transfer/native/poll"
                              << QByteArray();
    }

    void foreignPagesGetNoAnswerToRead() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        const THeaders Headers{{"Origin", "http://clinic-neighbour.example"},
                               {"Access-Control-Request-Method", "POST"},
                               {"Content-Type", "application/json"}};
        const auto Reply = FService.Call(method, path, Headers, body);
        QCOMPARE(Reply.Status, 403);
        QVERIFY(!HasCorsHeader(Reply));
        QVERIFY(!Reply.Body.contains("access_token"));
    }

    // A large send from a foreign page is refused before its body is read.
    void foreignLargeBodyIsNotRead() {
        const auto Reply =
            SendText({{"Origin", "http://clinic-neighbour.example"}}, QByteArray(200 * 1024, 'a'));
        QCOMPARE(Reply.Status, 403);
        const auto Requests = FService.Requests();
        QCOMPARE(Requests.size(), 2); // the sign-in and the send
        QCOMPARE(Requests.last().Path, QByteArray("/api/image-transfer/send"));
        QVERIFY(Requests.last().Body.isEmpty());
    }

    void bodyLimitIsConfigurable_data() {
        QTest::addColumn<int>("extraBytes"); // beyond the limit, counted on the text
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<int>("status");
        const int Form = static_cast<int>(TextForm("").size());
        QTest::newRow("body of exactly the limit") << -Form << false << 202;
        QTest::newRow("one byte over, with a length") << 1 - Form << false << 413;
        QTest::newRow("one byte over, chunked") << 1 - Form << true << 413;
        QTest::newRow("far over") << 3 * 1024 * 1024 << false << 413;
    }

    void bodyLimitIsConfigurable() {
        QFETCH(int, extraBytes);
        QFETCH(bool, chunked);
        QFETCH(int, status);
        const QByteArray Text(kMaxBodyMiB * 1024 * 1024 + extraBytes, 'x');
        const auto Reply =
            SendText(chunked ? THeaders{{"Transfer-Encoding", "chunked"}} : THeaders{}, Text);
        QCOMPARE(Reply.Status, status);
        if (status == 413) {
            QCOMPARE(Detail(Reply), QStringLiteral("リクエストが大きすぎます（1 MiB まで）"));
            QCOMPARE(FService.Poll(FService.Token(kUser), 0).Status, 204);
        } else {
            const auto Item = FService.Poll(FService.Token(kUser), 0);
            QCOMPARE(Item.Status, 200);
            QCOMPARE(Item.Body, Text);
        }
    }
};

QTEST_GUILESS_MAIN(TSendPageTest)
#include "tSendPage.moc"
