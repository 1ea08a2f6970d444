// Every service call against a real scanlume-local over loopback, with scripted
// responses where the service must misbehave, and the exact bytes the client sent.
#include "common/uErrors.h"
#include "service/uApiClient.h"
#include "service/uHttp.h"

#include "uLocalService.h"
#include "uTlsFixture.h"

#include <QProcess>
#include <QtTest>
#include <sys/resource.h>
#include <zlib.h>

using THeaders = QList<QPair<QByteArray, QByteArray>>;
Q_DECLARE_METATYPE(TPollResult)

namespace {

// The parts of a multipart/form-data body, each with its raw header block.
struct TPart {
    QByteArray Headers;
    QByteArray Content;
};

QList<TPart> SplitMultipart(const QByteArray& ABody, const QByteArray& AContentType,
                            bool* AWellFormed) {
    *AWellFormed = false;
    const qsizetype b = AContentType.indexOf("boundary=");
    if (b < 0)
        return {};
    const QByteArray boundary = "--" + AContentType.mid(b + 9);
    QList<TPart> parts;
    qsizetype pos = 0;
    if (!ABody.startsWith(boundary + "\r\n"))
        return {};
    for (;;) {
        pos += boundary.size();
        if (ABody.mid(pos) == "--\r\n") {
            *AWellFormed = true;
            return parts;
        }
        if (ABody.mid(pos, 2) != "\r\n")
            return {};
        pos += 2;
        const qsizetype headerEnd = ABody.indexOf("\r\n\r\n", pos);
        const qsizetype next = ABody.indexOf("\r\n" + boundary, headerEnd);
        if (headerEnd < 0 || next < 0)
            return {};
        parts.append(
            {ABody.mid(pos, headerEnd - pos), ABody.mid(headerEnd + 4, next - headerEnd - 4)});
        pos = next + 2;
    }
}

QByteArray Gzip(const QByteArray& AData) {
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(AData.size()))) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(AData.constData()));
    zs.avail_in = uInt(AData.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

// A gzip stream that inflates to AZeros zero bytes, made without holding them.
QByteArray GzipOfZeros(qint64 AZeros) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    const QByteArray chunk(1 << 20, '\0');
    QByteArray out;
    char buf[1 << 16];
    for (qint64 left = AZeros; left > 0;) {
        const qint64 n = std::min<qint64>(left, chunk.size());
        left -= n;
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.constData()));
        zs.avail_in = uInt(n);
        do {
            zs.next_out = reinterpret_cast<Bytef*>(buf);
            zs.avail_out = sizeof(buf);
            deflate(&zs, left > 0 ? Z_NO_FLUSH : Z_FINISH);
            out.append(buf, qsizetype(sizeof(buf) - zs.avail_out));
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    return out;
}

} // namespace

class TestApiClient : public QObject {
    Q_OBJECT
    TLocalService FService;

    // A client that is signed in to the real service.
    std::unique_ptr<TApiClient> SignedIn() {
        auto api = std::make_unique<TApiClient>(FService.BaseUrl());
        QString error;
        if (!api->Login(QStringLiteral("demo@example.com"), QStringLiteral("secret"), error))
            qWarning("sign-in failed: %s", qPrintable(error));
        return api;
    }
    void Script(const QString& APath, int AStatus, const QByteArray& ABody,
                const THeaders& AHeaders = {}, const QByteArray& AEncoding = {}, int ADelay = 0,
                bool ADrop = false) {
        TLocalService::TScript s;
        s.Path = APath;
        s.Status = AStatus;
        s.Body = ABody;
        s.Headers = AHeaders;
        s.ContentEncoding = AEncoding;
        s.DelayMs = ADelay;
        s.Drop = ADrop;
        FService.Script(s);
    }
    TLocalService::TRecorded LastRequest() {
        const auto all = FService.Requests();
        return all.isEmpty() ? TLocalService::TRecorded() : all.last();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(FService.Start()); }
    void init() {
        FService.Reset();
        THttpClient::SetMaxBodyBytes(THttpClient::DefaultMaxBodyBytes);
        THttpClient::SetAnswerPace(THttpClient::DefaultAnswerGraceMs,
                                   THttpClient::DefaultMinAnswerBytesPerSecond);
    }

    // ---- sign-in

    void baseUrl_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("one slash") << "/" << QByteArray("/api/auth/login");
        QTest::newRow("two slashes") << "//" << QByteArray("/api/auth/login");
        QTest::newRow("path prefix") << "/tenant/x/" << QByteArray("/tenant/x/api/auth/login");
    }
    void baseUrl() {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, path);
        TApiClient api(FService.BaseUrl() + suffix);
        QVERIFY(!api.BaseUrl().endsWith(u'/'));
        Script(QString::fromLatin1(path), 200, R"({"access_token":"t"})");
        QString error;
        QVERIFY2(api.Login(QStringLiteral("a"), QStringLiteral("b"), error), qPrintable(error));
        QCOMPARE(LastRequest().Path, path);
    }

    void loginRequestBytes() {
        TApiClient api(FService.BaseUrl());
        QString error;
        const QString password = QStringLiteral("pä\"\\/\n\t\x01😀ß");
        api.Login(QStringLiteral("受付@example.jp"), password, error);
        const auto r = LastRequest();
        QCOMPARE(r.Method, QByteArray("POST"));
        const QByteArray expected =
            "{\"email\":\"\\u53D7\\u4ED8@example.jp\",\"password\":\"p\\u00E4\\\"\\\\/"
            "\\n\\t\\u0001\\uD83D\\uDE00\\u00DF\",\"remember_me\":true}";
        QCOMPARE(r.Body, expected);
        QCOMPARE(r.Header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!r.HasHeader("Authorization"));
        QVERIFY(!r.HasHeader("Expect"));
        QCOMPARE(error, QStringLiteral("メールアドレスまたはパスワードが正しくありません"));
    }

    void loginAgainstService() {
        TApiClient api(FService.BaseUrl());
        QString error;
        QVERIFY(api.Login(QStringLiteral("demo@example.com"), QStringLiteral("secret"), error));
        QVERIFY(!api.Token().isEmpty());
        QVERIFY(error.isEmpty());
    }

    void loginResponses_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("tokenOrError");
        const QString noToken = QStringLiteral("サーバー応答にトークンが含まれていません");
        QTest::newRow("token") << 200
                               << QByteArray(R"({"access_token":"abc","token_type":"bearer"})")
                               << QByteArray() << true << "abc";
        QTest::newRow("numeric token")
            << 200 << QByteArray(R"({"access_token":12.50})") << QByteArray() << true << "12.50";
        QTest::newRow("gzip body")
            << 200 << QByteArray(R"({"access_token":"gz"})") << QByteArray("gzip") << true << "gz";
        QTest::newRow("deflate body") << 200 << QByteArray(R"({"access_token":"df"})")
                                      << QByteArray("deflate") << true << "df";
        QTest::newRow("raw deflate body") << 200 << QByteArray(R"({"access_token":"raw"})")
                                          << QByteArray("raw-deflate") << true << "raw";
        QTest::newRow("empty body") << 200 << QByteArray() << QByteArray() << false << noToken;
        QTest::newRow("null token")
            << 200 << QByteArray(R"({"access_token":null})") << QByteArray() << false << noToken;
        QTest::newRow("empty token")
            << 200 << QByteArray(R"({"access_token":""})") << QByteArray() << false << noToken;
        QTest::newRow("token is a list")
            << 200 << QByteArray(R"({"access_token":["a"]})") << QByteArray() << false << noToken;
        QTest::newRow("not an object")
            << 200 << QByteArray(R"(["access_token"])") << QByteArray() << false << noToken;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>ok</html>") << QByteArray() << false
                                  << noToken;
        QTest::newRow("201 is a failure") << 201 << QByteArray(R"({"access_token":"abc"})")
                                          << QByteArray() << false << "HTTP 201";
        QTest::newRow("201 with detail")
            << 201 << QByteArray(R"({"access_token":"abc","detail":"作成"})") << QByteArray()
            << false << "作成";
        QTest::newRow("detail string") << 401 << QByteArray(R"({"detail":"認証に失敗しました"})")
                                       << QByteArray() << false << "認証に失敗しました";
        QTest::newRow("detail list")
            << 422 << QByteArray(R"({"detail":[{"msg":"field required"}]})") << QByteArray()
            << false << "HTTP 422";
        QTest::newRow("detail number")
            << 400 << QByteArray(R"({"detail":5.20})") << QByteArray() << false << "5.20";
        QTest::newRow("detail empty")
            << 403 << QByteArray(R"({"detail":""})") << QByteArray() << false << "HTTP 403";
        QTest::newRow("detail null")
            << 403 << QByteArray(R"({"detail":null})") << QByteArray() << false << "HTTP 403";
        QTest::newRow("html error")
            << 502 << QByteArray("<h1>Bad Gateway</h1>") << QByteArray() << false << "HTTP 502";
        QTest::newRow("gzip error detail") << 401 << QByteArray(R"({"detail":"期限切れ"})")
                                           << QByteArray("gzip") << false << "期限切れ";
        // A token goes into a header line of every later call.
        const QString badToken = QStringLiteral("サーバー応答のトークンが正しくありません");
        QTest::newRow("token with CR LF")
            << 200 << QByteArray(R"({"access_token":"abc\r\nX-Injected: yes"})") << QByteArray()
            << false << badToken;
        QTest::newRow("token with NUL") << 200 << QByteArray(R"({"access_token":"ab\u0000cd"})")
                                        << QByteArray() << false << badToken;
        QTest::newRow("token with a blank") << 200 << QByteArray(R"({"access_token":"ab cd"})")
                                            << QByteArray() << false << badToken;
        QTest::newRow("token not ASCII") << 200 << QByteArray(R"({"access_token":"トークン"})")
                                         << QByteArray() << false << badToken;
        QTest::newRow("token of 8 KiB")
            << 200 << QByteArray("{\"access_token\":\"") + QByteArray(8192, 't') + "\"}"
            << QByteArray() << true << QString(8192, u't');
        QTest::newRow("token over 8 KiB")
            << 200 << QByteArray("{\"access_token\":\"") + QByteArray(8193, 't') + "\"}"
            << QByteArray() << false << badToken;
        QTest::newRow("10 MB token")
            << 200 << QByteArray("{\"access_token\":\"") + QByteArray(10 << 20, 't') + "\"}"
            << QByteArray() << false << badToken;
        // Nesting deep enough to overflow a recursive reader's stack.
        QTest::newRow("200 KB of [")
            << 200 << QByteArray(200 * 1024, '[') << QByteArray() << false << noToken;
        QTest::newRow("deep but whole") << 200 << QByteArray(100000, '[') + QByteArray(100000, ']')
                                        << QByteArray() << false << noToken;
    }
    void loginResponses() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, encoding);
        QFETCH(bool, ok);
        QFETCH(QString, tokenOrError);
        auto api = SignedIn(); // a failing sign-in must also forget an earlier token
        QVERIFY(!api->Token().isEmpty());
        Script(QStringLiteral("/api/auth/login"), status, body,
               {{"Content-Type", "application/json; charset=iso-8859-1"}}, encoding);
        QString error;
        QCOMPARE(api->Login(QStringLiteral("a"), QStringLiteral("b"), error), ok);
        QCOMPARE(ok ? api->Token() : error, tokenOrError);
        if (!ok)
            QVERIFY(api->Token().isEmpty());
    }

    // The user reads a short Japanese description first, then curl's own words.
    void transportFailures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("description");
        QTest::newRow("dropped connection") << "drop"
                                            << "通信が途中で切れました（";
        QTest::newRow("nobody listening") << "closed"
                                          << "接続できません（";
        QTest::newRow("broken gzip") << "badgzip"
                                     << "応答を展開できません（";
        QTest::newRow("no such host") << "nohost"
                                      << "サーバー名が見つかりません（";
        QTest::newRow("not a URL") << "badurl"
                                   << "サーバーURLが正しくありません（";
    }
    void transportFailures() {
        QFETCH(QString, kind);
        QFETCH(QString, description);
        auto api = SignedIn();
        if (kind == QLatin1String("drop"))
            Script(QStringLiteral("/api/auth/login"), 200, "{}", {}, {}, 0, true);
        if (kind == QLatin1String("badgzip"))
            Script(QStringLiteral("/api/auth/login"), 200, "not gzip at all",
                   {{"Content-Encoding", "gzip"}});
        TApiClient closed(kind == QLatin1String("nohost")
                              ? QStringLiteral("http://no-such-host.invalid")
                          : kind == QLatin1String("badurl") ? QStringLiteral("nonsense://x")
                                                            : QStringLiteral("http://127.0.0.1:1"));
        const bool own = kind == QLatin1String("drop") || kind == QLatin1String("badgzip");
        TApiClient& client = own ? *api : closed;
        QString error;
        try {
            client.Login(QStringLiteral("demo@example.com"), QStringLiteral("secret"), error);
            QFAIL("a transport failure must be raised");
        } catch (const TTransportError& e) {
            QVERIFY2(e.Message().startsWith(description), qPrintable(e.Message()));
            QVERIFY(e.Message().endsWith(QStringLiteral("）")));
        }
        QVERIFY(client.Token().isEmpty());
    }

    // A body that keeps trickling never trips the idle time-out; the call's deadline ends
    // it. A body that arrives at a working pace is not cut.
    void deadline_data() {
        QTest::addColumn<int>("trickleMs");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<bool>("completes");
        QTest::newRow("trickle past the deadline") << 100 << 1000 << false;
        QTest::newRow("no deadline: the trickle is waited out") << 100 << 0 << true;
        QTest::newRow("whole body in time") << 0 << 1000 << true;
    }
    void deadline() {
        QFETCH(int, trickleMs);
        QFETCH(int, deadlineMs);
        QFETCH(bool, completes);
        TLocalService::TScript s;
        s.Path = QStringLiteral("/slow");
        s.Body = QByteArray(25, 'x');
        s.TrickleMs = trickleMs;
        FService.Script(s);
        THttpClient http(2000); // far longer than the pause between two bytes
        http.SetDeadline(deadlineMs);
        try {
            const THttpResponse r =
                http.Send("GET", FService.BaseUrl() + QStringLiteral("/slow"), {});
            QVERIFY(completes);
            QCOMPARE(r.Body, s.Body);
        } catch (const TTransportError& e) {
            QVERIFY2(!completes, qPrintable(e.Message()));
            QVERIFY2(e.Message().startsWith(QStringLiteral("時間切れ（")), qPrintable(e.Message()));
        }
    }

    // An answer that has begun must keep a pace after its grace, whatever the call's own
    // deadline: a poll answer trickling a byte now and then no longer holds receiving.
    void answerPace_data() {
        QTest::addColumn<int>("trickleMs");
        QTest::addColumn<bool>("completes");
        QTest::newRow("a byte every 100 ms") << 100 << false;
        QTest::newRow("the whole body at once") << 0 << true;
    }
    void answerPace() {
        QFETCH(int, trickleMs);
        QFETCH(bool, completes);
        THttpClient::SetAnswerPace(300, 1024);
        TLocalService::TScript s;
        s.Path = QStringLiteral("/slow");
        s.Body = QByteArray(40, 'x');
        s.TrickleMs = trickleMs;
        FService.Script(s);
        THttpClient http(2000); // idle time-out far above the pause between two bytes
        try {
            const THttpResponse r =
                http.Send("GET", FService.BaseUrl() + QStringLiteral("/slow"), {});
            QVERIFY(completes);
            QCOMPARE(r.Body, s.Body);
        } catch (const TTransportError& e) {
            QVERIFY2(!completes, qPrintable(e.Message()));
            QVERIFY2(e.Message().startsWith(QStringLiteral("時間切れ（Answer too slow")),
                     qPrintable(e.Message()));
        }
    }

    void bodySizeCap_data() {
        QTest::addColumn<bool>("inflated");
        QTest::newRow("raw body over the cap") << false;
        QTest::newRow("gzip bomb over 256 MiB") << true;
    }
    void bodySizeCap() {
        QFETCH(bool, inflated);
        auto api = SignedIn();
        if (inflated) {
            Script(QStringLiteral("/api/auth/login"), 200, GzipOfZeros(qint64(257) << 20),
                   {{"Content-Encoding", "gzip"}});
        } else {
            THttpClient::SetMaxBodyBytes(64 * 1024);
            Script(QStringLiteral("/api/auth/login"), 200, QByteArray(64 * 1024 + 1, 'x'));
        }
        QString error;
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        QVERIFY_THROWS_EXCEPTION(TTransportError,
                                 api->Login(QStringLiteral("a"), QStringLiteral("b"), error));
        // The inflated body never grows past the cap (doubling would take it to 512 MiB).
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 320 * 1024,
                 qPrintable(QStringLiteral("peak grew by %1 MB")
                                .arg((after.ru_maxrss - before.ru_maxrss) / 1024)));
        // A body just at the cap passes.
        if (!inflated) {
            QByteArray body = R"({"access_token":"cap"})";
            body += QByteArray(64 * 1024 - body.size(), ' ');
            Script(QStringLiteral("/api/auth/login"), 200, body);
            QVERIFY(api->Login(QStringLiteral("a"), QStringLiteral("b"), error));
        }
    }

    void inflate_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("gzip") << QByteArray("gzip");
        QTest::newRow("deflate") << QByteArray("deflate");
    }
    void inflate() {
        QFETCH(QByteArray, encoding);
        const QByteArray data = QByteArray("診療所").repeated(10000);
        QCOMPARE(InflateBody(Gzip(data), "gzip", 1 << 30), data);
        QVERIFY_THROWS_EXCEPTION(TTransportError,
                                 InflateBody(Gzip(data).left(40), encoding, 1 << 30));
        QVERIFY_THROWS_EXCEPTION(TTransportError, InflateBody(Gzip(data), "gzip", 1000));
    }

    // ---- long poll

    void pollResults_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<THeaders>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<TPollResult>("result");
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QString>("contentType");
        QTest::newRow("jpeg") << 200
                              << THeaders{{"Content-Type", "image/jpeg"},
                                          {"X-Image-Filename", "IMG_0001.jpg"}}
                              << QByteArray("\xFF\xD8jpeg") << TPollResult::prImage
                              << "IMG_0001.jpg"
                              << "image/jpeg";
        QTest::newRow("text in capitals")
            << 200 << THeaders{{"Content-Type", "Text/Plain; charset=UTF-8"}} << QByteArray("hello")
            << TPollResult::prText << "result.txt"
            << "Text/Plain; charset=UTF-8";
        QTest::newRow("text/ in the middle is not text")
            << 200 << THeaders{{"Content-Type", "application/x-text/odd"}} << QByteArray("x")
            << TPollResult::prImage << "image.jpg"
            << "application/x-text/odd";
        QTest::newRow("a JPEG with text/ in a parameter")
            << 200 << THeaders{{"Content-Type", "image/jpeg; comment=text/x"}}
            << QByteArray("\xFF\xD8jpeg") << TPollResult::prImage << "image.jpg"
            << "image/jpeg; comment=text/x";
        QTest::newRow("text with blanks before its parameter")
            << 200 << THeaders{{"Content-Type", " TEXT/plain ;charset=utf-8"}} << QByteArray("x")
            << TPollResult::prText << "result.txt"
            << "TEXT/plain ;charset=utf-8";
        // A name that does not decode: the item is kept under the fall-back name.
        QTest::newRow("percent at end")
            << 200 << THeaders{{"Content-Type", "image/jpeg"}, {"X-Image-Filename", "trail%"}}
            << QByteArray("x") << TPollResult::prImage << "image.jpg"
            << "image/jpeg";
        QTest::newRow("one digit")
            << 200 << THeaders{{"Content-Type", "image/jpeg"}, {"X-Image-Filename", "abc%4"}}
            << QByteArray("x") << TPollResult::prImage << "image.jpg"
            << "image/jpeg";
        QTest::newRow("not hex") << 200
                                 << THeaders{{"Content-Type", "image/jpeg"},
                                             {"X-Image-Filename", "bad%zz.jpg"}}
                                 << QByteArray("x") << TPollResult::prImage << "image.jpg"
                                 << "image/jpeg";
        QTest::newRow("not UTF-8, a text")
            << 200 << THeaders{{"Content-Type", "text/plain"}, {"X-Image-Filename", "%FF%FE.txt"}}
            << QByteArray("x") << TPollResult::prText << "result.txt"
            << "text/plain";
        QTest::newRow("pdf") << 200 << THeaders{{"Content-Type", "application/pdf"}}
                             << QByteArray("%PDF") << TPollResult::prImage << "image.jpg"
                             << "application/pdf";
        QTest::newRow("json") << 200 << THeaders{{"Content-Type", "application/json"}}
                              << QByteArray("{}") << TPollResult::prImage << "image.jpg"
                              << "application/json";
        QTest::newRow("empty body") << 200 << THeaders{{"Content-Type", "image/png"}}
                                    << QByteArray() << TPollResult::prImage << "image.jpg"
                                    << "image/png";
        QTest::newRow("japanese name")
            << 200
            << THeaders{{"Content-Type", "image/jpeg"},
                        {"X-Image-Filename", "%E6%A4%9C%E6%9F%BB%E7%B5%90%E6%9E%9C.jpg"}}
            << QByteArray("x") << TPollResult::prImage << "検査結果.jpg"
            << "image/jpeg";
        QTest::newRow("plus and doubled percent")
            << 200
            << THeaders{{"Content-Type", "image/jpeg"}, {"X-Image-Filename", "a+b%%c%2Bd.jpg"}}
            << QByteArray("x") << TPollResult::prImage << "a b%c+d.jpg"
            << "image/jpeg";
        QTest::newRow("lower-case escapes, emoji")
            << 200
            << THeaders{{"Content-Type", "image/jpeg"}, {"X-Image-Filename", "%f0%9f%98%80.jpg"}}
            << QByteArray("x") << TPollResult::prImage << "😀.jpg"
            << "image/jpeg";
        QTest::newRow("raw UTF-8 in header")
            << 200 << THeaders{{"Content-Type", "text/plain"}, {"X-Image-Filename", "メモ.txt"}}
            << QByteArray("x") << TPollResult::prText << "メモ.txt"
            << "text/plain";
        QTest::newRow("204") << 204 << THeaders{} << QByteArray() << TPollResult::prEmpty << ""
                             << "";
        QTest::newRow("401") << 401 << THeaders{} << QByteArray(R"({"detail":"x"})")
                             << TPollResult::prUnauthorized << ""
                             << "";
        QTest::newRow("403") << 403 << THeaders{} << QByteArray() << TPollResult::prUnauthorized
                             << ""
                             << "";
    }
    void pollResults() {
        QFETCH(int, status);
        QFETCH(THeaders, headers);
        QFETCH(QByteArray, body);
        QFETCH(TPollResult, result);
        QFETCH(QString, filename);
        QFETCH(QString, contentType);
        auto api = SignedIn();
        Script(QStringLiteral("/api/image-transfer/native/poll"), status, body, headers);
        QByteArray stream;
        QString name, type;
        QCOMPARE(api->Poll(25, stream, name, type), result);
        QCOMPARE(name, filename);
        QCOMPARE(type, contentType);
        if (status == 200)
            QCOMPARE(stream, body);
        const auto r = LastRequest();
        QCOMPARE(r.Method, QByteArray("GET"));
        QCOMPARE(r.Target, QByteArray("/api/image-transfer/native/poll?wait=25"));
        QCOMPARE(r.Header("Authorization"), "Bearer " + api->Token().toUtf8());
    }

    void pollErrors_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("filename");
        QTest::addColumn<QString>("message");
        QTest::newRow("500") << 500 << QByteArray() << QStringLiteral("受信エラー: HTTP 500");
        QTest::newRow("202") << 202 << QByteArray() << QStringLiteral("受信エラー: HTTP 202");
        QTest::newRow("404") << 404 << QByteArray() << QStringLiteral("受信エラー: HTTP 404");
    }
    void pollErrors() {
        QFETCH(int, status);
        QFETCH(QByteArray, filename);
        QFETCH(QString, message);
        auto api = SignedIn();
        THeaders headers{{"Content-Type", "image/jpeg"}};
        if (!filename.isEmpty())
            headers.append({"X-Image-Filename", filename});
        Script(QStringLiteral("/api/image-transfer/native/poll"), status, "body", headers);
        QByteArray stream;
        QString name, type;
        try {
            api->Poll(25, stream, name, type);
            QFAIL("must raise");
        } catch (const TTransportError&) {
            QFAIL("a status error is not a transport failure");
        } catch (const TAppError& e) {
            if (!message.isEmpty())
                QCOMPARE(e.Message(), message);
            else
                QVERIFY(!e.Message().isEmpty());
        }
        QVERIFY(!api->Token().isEmpty());
    }

    void pollWithoutSignIn() {
        TApiClient api(FService.BaseUrl());
        QByteArray stream;
        QString name, type;
        QCOMPARE(api.Poll(0, stream, name, type), TPollResult::prUnauthorized);
        QVERIFY(LastRequest().Header("Authorization").startsWith("Bearer"));
    }

    // The response time-out is (wait + 20) s; a negative wait makes it short enough to test.
    void pollResponseTimeout_data() {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("received");
        QTest::newRow("answered in time") << 300 << true;
        QTest::newRow("answered too late") << 2500 << false;
    }
    void pollResponseTimeout() {
        QFETCH(int, delayMs);
        QFETCH(bool, received);
        auto api = SignedIn();
        Script(QStringLiteral("/api/image-transfer/native/poll"), 204, {}, {}, {}, delayMs);
        QByteArray stream;
        QString name, type;
        if (received) {
            QCOMPARE(api->Poll(-19, stream, name, type), TPollResult::prEmpty);
        } else {
            QVERIFY_THROWS_EXCEPTION(TTransportError, api->Poll(-19, stream, name, type));
        }
    }

    void pollRealItems() {
        auto api = SignedIn();
        const QString name = QStringLiteral("検査 結果+100%.jpg");
        QCOMPARE(FService.SendFile(QStringLiteral("demo@example.com:secret"), name, "image/jpeg",
                                   "JPEGDATA"),
                 202);
        QCOMPARE(
            FService.SendText(QStringLiteral("demo@example.com:secret"), QStringLiteral("本文")),
            202);
        QByteArray stream;
        QString filename, type;
        QCOMPARE(api->Poll(5, stream, filename, type), TPollResult::prImage);
        QCOMPARE(filename, name);
        QCOMPARE(stream, QByteArray("JPEGDATA"));
        stream.clear();
        QCOMPARE(api->Poll(5, stream, filename, type), TPollResult::prText);
        QCOMPARE(filename, QStringLiteral("result.txt"));
        QCOMPARE(QString::fromUtf8(stream), QStringLiteral("本文"));
        QCOMPARE(api->Poll(0, stream, filename, type), TPollResult::prEmpty);
    }

    void stopReceiver() {
        TApiClient notSignedIn(FService.BaseUrl());
        notSignedIn.StopReceiver();
        QVERIFY(FService.Requests().isEmpty());

        auto api = SignedIn();
        Script(QStringLiteral("/api/image-transfer/native/stop"), 500, "<html>");
        api->StopReceiver(); // any status is accepted
        const auto r = LastRequest();
        QCOMPARE(r.Method, QByteArray("POST"));
        QCOMPARE(r.Path, QByteArray("/api/image-transfer/native/stop"));
        QVERIFY(r.Body.isEmpty());
        QCOMPARE(r.Header("Authorization"), "Bearer " + api->Token().toUtf8());
        QVERIFY(!r.HasHeader("Content-Type"));
    }

    // ---- recognition upload

    void ocrForm_data() {
        QTest::addColumn<QByteArray>("jpeg");
        QTest::addColumn<QString>("patient");
        QTest::addColumn<bool>("prescription");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("plain") << QByteArray("\xFF\xD8\xFF\xE0jpeg\r\n--x") << QString() << false
                               << QStringList{"file", "notify_pc"};
        QTest::newRow("patient") << QByteArray("J") << QStringLiteral("患者0012") << false
                                 << QStringList{"file", "patient_code", "notify_pc"};
        QTest::newRow("blank patient sent as is")
            << QByteArray("J") << QStringLiteral("  ") << false
            << QStringList{"file", "patient_code", "notify_pc"};
        QTest::newRow("prescription") << QByteArray("J") << QStringLiteral("7") << true
                                      << QStringList{"file", "patient_code", "notify_pc", "mode"};
        QTest::newRow("empty jpeg, prescription")
            << QByteArray() << QString() << true << QStringList{"file", "notify_pc", "mode"};
    }
    void ocrForm() {
        QFETCH(QByteArray, jpeg);
        QFETCH(QString, patient);
        QFETCH(bool, prescription);
        QFETCH(QStringList, names);
        auto api = SignedIn();
        Script(QStringLiteral("/api/image-jobs/upload"), 200, R"({"extracted_text":"OK"})");
        QString text, error;
        QVERIFY2(api->OcrImage(jpeg, patient, prescription, text, error), qPrintable(error));
        QCOMPARE(text, QStringLiteral("OK"));
        const auto r = LastRequest();
        QCOMPARE(r.Method, QByteArray("POST"));
        QCOMPARE(r.Path, QByteArray("/api/image-jobs/upload"));
        QCOMPARE(r.Header("Authorization"), "Bearer " + api->Token().toUtf8());
        QVERIFY(r.Header("Content-Type").startsWith("multipart/form-data; boundary="));
        QVERIFY(!r.HasHeader("Expect"));
        bool wellFormed = false;
        const QList<TPart> parts = SplitMultipart(r.Body, r.Header("Content-Type"), &wellFormed);
        QVERIFY2(wellFormed, r.Body.constData());
        QCOMPARE(parts.size(), names.size());
        QCOMPARE(parts[0].Headers,
                 QByteArray("Content-Disposition: form-data; name=\"file\"; "
                            "filename=\"region.jpg\"\r\nContent-Type: image/jpeg"));
        QCOMPARE(parts[0].Content, jpeg);
        for (int i = 1; i < parts.size(); ++i) {
            QCOMPARE(parts[i].Headers,
                     "Content-Disposition: form-data; name=\"" + names[i].toUtf8() + "\"");
            const QByteArray expected = names[i] == QLatin1String("patient_code") ? patient.toUtf8()
                                        : names[i] == QLatin1String("notify_pc")
                                            ? QByteArray("false")
                                            : QByteArray("prescription");
            QCOMPARE(parts[i].Content, expected);
        }
    }

    void ocrResponses_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("textOrError");
        const QString missing = QStringLiteral("サーバー応答に extracted_text が含まれていません");
        QTest::newRow("text") << 200 << QByteArray(R"({"extracted_text":"血糖 98"})") << true
                              << "血糖 98";
        QTest::newRow("null text") << 200 << QByteArray(R"({"extracted_text":null})") << true << "";
        QTest::newRow("number") << 200 << QByteArray(R"({"extracted_text":1.50})") << true
                                << "1.50";
        QTest::newRow("201 counts")
            << 201 << QByteArray(R"({"extracted_text":"x"})") << true << "x";
        QTest::newRow("html") << 200 << QByteArray("<html></html>") << false << missing;
        QTest::newRow("missing") << 200 << QByteArray(R"({"text":"x"})") << false << missing;
        QTest::newRow("object") << 200 << QByteArray(R"({"extracted_text":{}})") << false
                                << missing;
        QTest::newRow("expired token") << 401 << QByteArray() << false << "HTTP 401";
        QTest::newRow("detail") << 413 << QByteArray(R"({"detail":"画像が大きすぎます"})") << false
                                << "画像が大きすぎます";
    }
    void ocrResponses() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(QString, textOrError);
        auto api = SignedIn();
        Script(QStringLiteral("/api/image-jobs/upload"), status, body);
        QString text, error;
        QCOMPARE(api->OcrImage("J", QString(), false, text, error), ok);
        QCOMPARE(ok ? text : error, textOrError);
        QCOMPARE(ok ? error : text, QString());
        QVERIFY(!api->Token().isEmpty());
    }

    // ---- extraction and items

    void notSignedIn() {
        TApiClient api(FService.BaseUrl());
        QString text, error, date, inst;
        QList<TLabValue> values;
        QList<TExtractItem> items, catalog;
        const QString expected = QStringLiteral("未ログインです");
        QVERIFY(!api.OcrImage("J", {}, false, text, error));
        QCOMPARE(error, expected);
        QVERIFY(!api.ExtractValues(QStringLiteral("x"), values, date, inst, error));
        QCOMPARE(error, expected);
        QVERIFY(!api.GetItems(items, catalog, error));
        QCOMPARE(error, expected);
        QVERIFY(!api.SaveItems({}, error));
        QCOMPARE(error, expected);
        QVERIFY(FService.Requests().isEmpty());
    }

    void extractResponse() {
        auto api = SignedIn();
        Script(
            QStringLiteral("/api/extraction/extract"), 200,
            R"({"results":[{"name":"HbA1c","value":5.20,"unit":"%","reference":"4.6-6.2","flag":null},)"
            R"({"name":"血糖","value":"98","unit":"mg/dL","flag":"H"}],"exam_date":"2024-05-01","institution":"テスト病院"})");
        QList<TLabValue> values;
        QString date, inst, error;
        QVERIFY(
            api->ExtractValues(QStringLiteral("HbA1c 5.20 %\n血糖 98"), values, date, inst, error));
        QCOMPARE(values.size(), 2);
        QCOMPARE(values[0].Value, QStringLiteral("5.20"));
        QCOMPARE(values[0].Flag, QString());
        QCOMPARE(values[0].Reference, QStringLiteral("4.6-6.2"));
        QCOMPARE(values[1].Reference, QString());
        QCOMPARE(values[1].Flag, QStringLiteral("H"));
        QCOMPARE(date, QStringLiteral("2024-05-01"));
        QCOMPARE(inst, QStringLiteral("テスト病院"));
        const auto r = LastRequest();
        QCOMPARE(r.Body, QByteArray(R"({"text":"HbA1c 5.20 %\n\u8840\u7CD6 98"})"));
        // (The service keeps headers by name, so their order on the wire is not visible here.)
        QCOMPARE(r.Header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(r.Header("Authorization"), "Bearer " + api->Token().toUtf8());
    }

    void extractOutcomes_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("date");
        QTest::newRow("empty results") << 200 << QByteArray(R"({"results":[]})") << true << ""
                                       << "";
        QTest::newRow("no results, date kept") << 200 << QByteArray(R"({"exam_date":"2024-01-02"})")
                                               << false << "サーバー応答の形式が不正です"
                                               << "2024-01-02";
        QTest::newRow("results not an array")
            << 200 << QByteArray(R"({"results":{}})") << false << "サーバー応答の形式が不正です"
            << "";
        QTest::newRow("not JSON") << 200 << QByteArray("oops") << false
                                  << "サーバー応答の形式が不正です"
                                  << "";
        QTest::newRow("error status")
            << 500 << QByteArray(R"({"detail":"抽出に失敗"})") << false << "抽出に失敗"
            << "";
    }
    void extractOutcomes() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        QFETCH(QString, date);
        auto api = SignedIn();
        Script(QStringLiteral("/api/extraction/extract"), status, body);
        QList<TLabValue> values;
        QString examDate, inst, err;
        QCOMPARE(api->ExtractValues(QStringLiteral("x"), values, examDate, inst, err), ok);
        QCOMPARE(err, error);
        QCOMPARE(examDate, date);
    }

    void nonObjectElementsRaise_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("results") << "/api/extraction/extract"
                                 << QByteArray(R"({"results":[{"name":"a"},"b"]})");
        QTest::newRow("items") << "/api/extraction/items" << QByteArray(R"({"items":[1]})");
        QTest::newRow("catalog") << "/api/extraction/items"
                                 << QByteArray(R"({"items":[],"catalog":[null]})");
    }
    void nonObjectElementsRaise() {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        auto api = SignedIn();
        Script(path, 200, body);
        QList<TLabValue> values;
        QList<TExtractItem> items, catalog;
        QString a, b, err;
        if (path.endsWith(QLatin1String("extract")))
            QVERIFY_THROWS_EXCEPTION(TAppError,
                                     api->ExtractValues(QStringLiteral("x"), values, a, b, err));
        else
            QVERIFY_THROWS_EXCEPTION(TAppError, api->GetItems(items, catalog, err));
    }

    void getItems_data() {
        QTest::addColumn<QByteArray>("aliases");
        QTest::addColumn<QString>("joined");
        QTest::newRow("two strings") << QByteArray(R"(["GOT","ASAT"])") << "GOT, ASAT";
        QTest::newRow("empty first") << QByteArray(R"(["","X"])") << "X";
        QTest::newRow("empty middle") << QByteArray(R"(["A","","B"])") << "A, , B";
        QTest::newRow("null") << QByteArray(R"([null,"B"])") << "null, B";
        QTest::newRow("number and bool") << QByteArray(R"([1.0,true])") << "1.0, true";
        QTest::newRow("nested skipped") << QByteArray(R"(["A",{},["x"],"B"])") << "A, , , B";
        QTest::newRow("string instead of array") << QByteArray(R"("GOT")") << "";
        QTest::newRow("missing") << QByteArray() << "";
    }
    void getItems() {
        QFETCH(QByteArray, aliases);
        QFETCH(QString, joined);
        auto api = SignedIn();
        const QByteArray item = aliases.isEmpty() ? QByteArray(R"({"name":"AST"})")
                                                  : R"({"name":"AST","aliases":)" + aliases + "}";
        Script(QStringLiteral("/api/extraction/items"), 200, R"({"items":[)" + item + "]}");
        QList<TExtractItem> items, catalog;
        QString error;
        QVERIFY(api->GetItems(items, catalog, error));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].Name, QStringLiteral("AST"));
        QCOMPARE(items[0].Aliases, joined);
        QVERIFY(catalog.isEmpty());
        QCOMPARE(LastRequest().Method, QByteArray("GET"));
        QVERIFY(!LastRequest().HasHeader("Content-Type"));
    }

    void getItemsFromService() {
        auto api = SignedIn();
        QList<TExtractItem> items, catalog;
        QString error;
        QVERIFY(api->GetItems(items, catalog, error));
        QCOMPARE(items.size(), 8);
        QVERIFY(catalog.size() >= 20);
    }

    void getItemsErrors_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("2xx not an object") << 200 << QByteArray("[]") << "HTTP 200";
        QTest::newRow("2xx not JSON") << 204 << QByteArray() << "HTTP 204";
        QTest::newRow("detail") << 401 << QByteArray(R"({"detail":"再ログインしてください"})")
                                << "再ログインしてください";
    }
    void getItemsErrors() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        auto api = SignedIn();
        Script(QStringLiteral("/api/extraction/items"), status, body);
        QList<TExtractItem> items, catalog;
        QString err;
        QVERIFY(!api->GetItems(items, catalog, err));
        QCOMPARE(err, error);
    }

    void saveItems_data() {
        QTest::addColumn<QList<TExtractItem>>("items");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty list") << QList<TExtractItem>{} << QByteArray(R"({"items":[]})");
        QTest::newRow("split and trimmed")
            << QList<TExtractItem>{{QStringLiteral("AST"), QStringLiteral("A, B,,C  \t")}}
            << QByteArray(R"({"items":[{"name":"AST","aliases":["A","B","C"]}]})");
        QTest::newRow("full-width comma and blank kept")
            << QList<TExtractItem>{{QStringLiteral("γ"), QStringLiteral("\u3000X、Y，Z")}}
            << QByteArray(R"({"items":[{"name":"\u03B3","aliases":["\u3000X\u3001Y\uFF0CZ"]}]})");
        QTest::newRow("no aliases")
            << QList<TExtractItem>{{QStringLiteral("a/b"), QString()},
                                   {QStringLiteral("c"), QStringLiteral(" , ")}}
            << QByteArray(R"({"items":[{"name":"a/b","aliases":[]},{"name":"c","aliases":[]}]})");
    }
    void saveItems() {
        QFETCH(QList<TExtractItem>, items);
        QFETCH(QByteArray, body);
        auto api = SignedIn();
        Script(QStringLiteral("/api/extraction/items"), 200, "{}");
        QString error;
        QVERIFY(api->SaveItems(items, error));
        const auto r = LastRequest();
        QCOMPARE(r.Method, QByteArray("PUT"));
        QCOMPARE(r.Body, body);
        QCOMPARE(r.Header("Content-Type"), QByteArray("application/json"));
        Script(QStringLiteral("/api/extraction/items"), 422, R"({"detail":[{"msg":"bad"}]})");
        QVERIFY(!api->SaveItems(items, error));
        QCOMPARE(error, QStringLiteral("HTTP 422"));
    }

    void saveItemsRoundTrip() {
        auto api = SignedIn();
        QString error;
        QVERIFY(api->SaveItems({{QStringLiteral("血糖"), QStringLiteral("GLU, BS")}}, error));
        QList<TExtractItem> items, catalog;
        QVERIFY(api->GetItems(items, catalog, error));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].Aliases, QStringLiteral("GLU, BS"));
    }

    // ---- HTTPS against a private authority

    void https_data() {
        QTest::addColumn<QString>("authority"); // "fixture", "scanlume-local" or "none"
        QTest::addColumn<QString>("host");
        QTest::newRow("authority trusted through SSL_CERT_FILE")
            << QStringLiteral("fixture") << QStringLiteral("127.0.0.1");
        QTest::newRow("untrusted certificate")
            << QStringLiteral("none") << QStringLiteral("127.0.0.1");
        // The clinic's own authority, as scanlume-local makes it: Pictoport on the same machine
        // reaches the service by address and by name.
        QTest::newRow("scanlume-local's authority, by address")
            << QStringLiteral("scanlume-local") << QStringLiteral("127.0.0.1");
        QTest::newRow("scanlume-local's authority, by name")
            << QStringLiteral("scanlume-local") << QStringLiteral("localhost");
    }
    void https() {
        QFETCH(QString, authority);
        QFETCH(QString, host);
        TTlsFixture tls;
        TLocalService::TOptions options;
        QString caCert;
        if (authority == QLatin1String("scanlume-local")) {
            QProcess make;
            make.start(TLocalService::Program(),
                       {QStringLiteral("certificate"), QStringLiteral("--out"), tls.Dir.path()});
            QVERIFY(make.waitForFinished(30000));
            QCOMPARE(make.exitCode(), 0);
            caCert = tls.Dir.filePath(QStringLiteral("ca.pem"));
            options.TlsCert = tls.Dir.filePath(QStringLiteral("cert.pem"));
            options.TlsKey = tls.Dir.filePath(QStringLiteral("key.pem"));
        } else {
            QVERIFY(tls.Make());
            caCert = tls.CaCert;
            options.TlsCert = tls.ServerCert;
            options.TlsKey = tls.ServerKey;
        }
        TLocalService secure;
        QVERIFY(secure.Start(options));
        QVERIFY(secure.BaseUrl().startsWith(QLatin1String("https://")));
        const bool trusted = authority != QLatin1String("none");
        if (trusted)
            qputenv("SSL_CERT_FILE", caCert.toUtf8());
        else
            qunsetenv("SSL_CERT_FILE");
        TApiClient api(QString(secure.BaseUrl()).replace(QStringLiteral("127.0.0.1"), host));
        QString error;
        if (trusted) {
            QVERIFY2(api.Login(QStringLiteral("demo@example.com"), QStringLiteral("secret"), error),
                     qPrintable(error));
        } else {
            QVERIFY_THROWS_EXCEPTION(TTransportError, api.Login(QStringLiteral("demo@example.com"),
                                                                QStringLiteral("secret"), error));
        }
        qunsetenv("SSL_CERT_FILE");
    }

    void decodeFilenameDirect_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("split UTF-8") << "%E3%81"
                                        "%82"
                                     << "あ";
        QTest::newRow("percent pair then hex") << "%%41"
                                               << "%41";
        QTest::newRow("plain") << "a.b"
                               << "a.b";
    }
    void decodeFilenameDirect() {
        QFETCH(QString, raw);
        QFETCH(QString, decoded);
        QCOMPARE(DecodeImageFilename(raw), decoded);
    }
};

QTEST_GUILESS_MAIN(TestApiClient)
#include "tst_apiclient.moc"
