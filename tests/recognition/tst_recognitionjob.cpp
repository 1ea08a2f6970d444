// The recognition job without any window: the sign-in rules around each call, the
// busy flag, results on the owner's thread, and a job that goes while its task runs.
// Against a real scanlume-local, with scripted answers where a fault is needed.
#include "recognition/uRecognitionJob.h"

#include "uLocalService.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

namespace {

const QString Email = QStringLiteral("demo@example.com");
const QString Pwd = QStringLiteral("secret");
const QByteArray Json = "application/json";

struct TScriptRow {
    QString Path;
    int Status;
    QByteArray Body;
    bool Drop = false;
};

} // namespace

Q_DECLARE_METATYPE(QList<TScriptRow>)

class TestRecognitionJob : public QObject {
    Q_OBJECT
    TLocalService FService;

    void Script(const TScriptRow& ARow, int ADelayMs = 0) {
        TLocalService::TScript s;
        s.Path = ARow.Path;
        s.Status = ARow.Status;
        s.Body = ARow.Body;
        if (!ARow.Body.isEmpty())
            s.Headers = {{"Content-Type", Json}};
        s.Drop = ARow.Drop;
        s.DelayMs = ADelayMs;
        FService.Script(s);
    }
    int Count(const QByteArray& APath) {
        int n = 0;
        for (const auto& r : FService.Requests())
            n += r.Path == APath ? 1 : 0;
        return n;
    }
    TOcrRequest OcrRequest(const QString& APwd = Pwd) {
        TOcrRequest r;
        r.Jpeg = "not really a jpeg: the answers are scripted";
        r.Email = Email;
        r.Password = APwd;
        r.PatientId = QStringLiteral("12345");
        r.Rx = true;
        return r;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(FService.Start()); }
    void init() { FService.Reset(); }

    void signInRules_data() {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QList<TScriptRow>>("scripts");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("logins");
        QTest::addColumn<int>("uploads");
        const QString upload = QStringLiteral("/api/image-jobs/upload");
        const QString login = QStringLiteral("/api/auth/login");
        const TScriptRow text{upload, 200, R"({"extracted_text":"Rp. ロキソニン"})"};
        const TScriptRow expired{upload, 401, {}};
        QTest::newRow("signs in first, then recognises")
            << false << QList<TScriptRow>{text} << Pwd << true << "" << 1 << 1;
        QTest::newRow("expired token: one new sign-in and one retry")
            << false << QList<TScriptRow>{expired, text} << Pwd << true << "" << 2 << 2;
        QTest::newRow("never more than one retry")
            << false << QList<TScriptRow>{expired, expired, text} << Pwd << false << "HTTP 401" << 2
            << 2;
        QTest::newRow("the new sign-in fails: the first answer stands")
            << true << QList<TScriptRow>{expired, {login, 500, {}}} << Pwd << false << "HTTP 401"
            << 2 << 1;
        // The status decides, never the words of the detail.
        QTest::newRow("401 whose detail does not say 401")
            << false
            << QList<TScriptRow>{{upload, 401, R"({"detail":"認証トークンが無効です"})"}, text}
            << Pwd << true << "" << 2 << 2;
        QTest::newRow("403 counts as a refused token")
            << false << QList<TScriptRow>{{upload, 403, R"({"detail":"forbidden"})"}, text} << Pwd
            << true << "" << 2 << 2;
        QTest::newRow("401 in the words of another error is no refused token")
            << false << QList<TScriptRow>{{upload, 500, R"({"detail":"upstream said 401"})"}} << Pwd
            << false << "upstream said 401" << 1 << 1;
        QTest::newRow("another error is not retried")
            << false << QList<TScriptRow>{{upload, 500, R"({"detail":"認識エンジンの障害"})"}}
            << Pwd << false << "認識エンジンの障害" << 1 << 1;
        QTest::newRow("wrong password: no call, no retry")
            << false << QList<TScriptRow>{} << "wrong" << false
            << "ログイン失敗: メールアドレスまたはパスワードが正しくありません" << 1 << 0;
        QTest::newRow("a broken transfer is an error, not a result")
            << false << QList<TScriptRow>{{upload, 200, R"({"extracted_text":"half of it"})", true}}
            << Pwd << false << "通信が途中で切れました（transfer closed" << 1 << 1;
    }
    void signInRules() {
        QFETCH(bool, signedIn);
        QFETCH(QList<TScriptRow>, scripts);
        QFETCH(QString, password);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        QFETCH(int, logins);
        QFETCH(int, uploads);
        TApiClient api(FService.BaseUrl());
        QString error0;
        if (signedIn)
            QVERIFY(api.Login(Email, Pwd, error0));
        for (const TScriptRow& row : scripts)
            Script(row);
        const TOcrResult r = RunOcrTask(api, OcrRequest(password));
        QCOMPARE(r.Ok, ok);
        QVERIFY2(r.Error.contains(error), qPrintable(r.Error));
        QCOMPARE(r.Error.isEmpty(), error.isEmpty());
        QCOMPARE(r.Text.isEmpty(), !ok);
        if (ok)
            QCOMPARE(r.Text, QStringLiteral("Rp. ロキソニン"));
        QCOMPARE(Count("/api/auth/login"), logins);
        QCOMPARE(Count("/api/image-jobs/upload"), uploads);
        // The copied inputs travel with the result.
        QVERIFY(r.Rx);
        QCOMPARE(r.PatientId, QStringLiteral("12345"));
    }

    void keepsItsSignIn() {
        TApiClient api(FService.BaseUrl());
        Script({QStringLiteral("/api/image-jobs/upload"), 200, R"({"extracted_text":"a"})"});
        Script({QStringLiteral("/api/image-jobs/upload"), 200, R"({"extracted_text":"b"})"});
        QVERIFY(RunOcrTask(api, OcrRequest()).Ok);
        QVERIFY(RunOcrTask(api, OcrRequest()).Ok);
        QCOMPARE(Count("/api/auth/login"), 1);
    }

    void unreachableService() {
        TApiClient api(QStringLiteral("http://127.0.0.1:1"));
        const TOcrResult r = RunOcrTask(api, OcrRequest());
        QVERIFY(!r.Ok);
        QVERIFY(!r.Error.isEmpty());
        QVERIFY(!r.Error.startsWith(QStringLiteral("ログイン失敗")));
    }

    void extractionThroughTheRealService() {
        TApiClient api(FService.BaseUrl());
        TExtractRequest request{
            QStringLiteral("さくら内科クリニック\n2024/05/01\nAST 24 U/L 13-30\nHbA1c 6.4 % H"),
            Email, Pwd, QStringLiteral("777")};
        const TExtractResult r = RunExtractTask(api, request);
        QVERIFY2(r.Ok, qPrintable(r.Error));
        QCOMPARE(r.ExamDate, QStringLiteral("2024-05-01"));
        QCOMPARE(r.Institution, QStringLiteral("さくら内科クリニック"));
        QCOMPARE(r.PatientId, QStringLiteral("777")); // travels with the result
        QCOMPARE(r.Values.size(), 2);
        QCOMPARE(r.Values[0].Name, QStringLiteral("AST"));
        QCOMPARE(r.Values[0].Value, QStringLiteral("24"));

        Script({QStringLiteral("/api/extraction/extract"), 401, {}});
        const TExtractResult again = RunExtractTask(api, request);
        QVERIFY2(again.Ok, qPrintable(again.Error));
        QCOMPARE(again.Values.size(), 2); // the retry's results, not the failure's
        QCOMPARE(Count("/api/auth/login"), 2);
    }

    // After an extraction the account's items that gave no value are listed, in the
    // account's order; reading them is a help, so its failure leaves the extraction standing.
    void itemsNotFound_data() {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QList<TScriptRow>>("scripts");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("notFound");
        QTest::addColumn<QString>("itemsError");
        QTest::addColumn<int>("logins");
        QTest::addColumn<int>("itemCalls");
        const QString itemsPath = QStringLiteral("/api/extraction/items");
        const QString extract = QStringLiteral("/api/extraction/extract");
        const QStringList five{QStringLiteral("HbA1c"), QStringLiteral("TG"), QStringLiteral("AST"),
                               QStringLiteral("Cr"), QStringLiteral("ALT")};
        const QStringList others{QStringLiteral("TG"), QStringLiteral("Cr"), QStringLiteral("ALT")};
        QTest::newRow("the others, in the account's order")
            << five << QList<TScriptRow>{} << true << others << "" << 1 << 1;
        QTest::newRow("every item found")
            << QStringList{QStringLiteral("AST"), QStringLiteral("HbA1c")} << QList<TScriptRow>{}
            << true << QStringList{} << "" << 1 << 1;
        QTest::newRow("a blank value is not found")
            << QStringList{QStringLiteral("AST"), QStringLiteral("ALT")}
            << QList<TScriptRow>{{extract, 200,
                                  R"({"results":[{"name":"AST","value":" "},)"
                                  R"({"name":"ALT","value":"31"}]})"}}
            << true << QStringList{QStringLiteral("AST")} << "" << 1 << 1;
        QTest::newRow("the items call fails: the extraction stands, the reason is kept")
            << five << QList<TScriptRow>{{itemsPath, 500, R"({"detail":"項目を読めません"})"}}
            << true << QStringList{} << "項目を読めません" << 1 << 1;
        QTest::newRow("items that are not a list of objects")
            << five << QList<TScriptRow>{{itemsPath, 200, R"({"items":[1,2]})"}} << true
            << QStringList{} << "Invalid class typecast" << 1 << 1;
        QTest::newRow("a refused token on the items call: one new sign-in")
            << five << QList<TScriptRow>{{itemsPath, 401, {}}} << true << others << "" << 2 << 2;
        QTest::newRow("a failed extraction does not ask")
            << five << QList<TScriptRow>{{extract, 500, R"({"detail":"抽出エンジンの障害"})"}}
            << false << QStringList{} << "" << 1 << 0;
    }
    void itemsNotFound() {
        QFETCH(QStringList, items);
        QFETCH(QList<TScriptRow>, scripts);
        QFETCH(bool, ok);
        QFETCH(QStringList, notFound);
        QFETCH(QString, itemsError);
        QFETCH(int, logins);
        QFETCH(int, itemCalls);

        // The account's items for this row, and the defaults back afterwards for the others.
        TApiClient setup(FService.BaseUrl());
        QString error;
        QList<TExtractItem> defaults, catalog;
        QVERIFY(setup.Login(Email, Pwd, error));
        QVERIFY2(setup.GetItems(defaults, catalog, error), qPrintable(error));
        const auto restore = qScopeGuard([&] { QVERIFY(setup.SaveItems(defaults, error)); });
        QList<TExtractItem> account;
        for (const QString& name : items)
            account << TExtractItem{name, QString()};
        QVERIFY2(setup.SaveItems(account, error), qPrintable(error));
        FService.Reset();

        for (const TScriptRow& row : scripts)
            Script(row);
        TApiClient api(FService.BaseUrl());
        const TExtractResult r = RunExtractTask(
            api, {QStringLiteral("AST 24 U/L 13-30\nHbA1c 6.4 % H"), Email, Pwd, QString()});
        QCOMPARE(r.Ok, ok);
        QCOMPARE(r.Error.isEmpty(), ok);
        QCOMPARE(r.NotFound, notFound);
        QCOMPARE(r.ItemsError.isEmpty(), itemsError.isEmpty());
        QVERIFY2(r.ItemsError.contains(itemsError), qPrintable(r.ItemsError));
        QCOMPARE(r.Values.size(), ok ? 2 : 0); // the extraction's own, whatever the items did
        QCOMPARE(Count("/api/auth/login"), logins);
        QCOMPARE(Count("/api/extraction/items"), itemCalls);
    }

    // The service restarts and forgets every token: its own 401 answer brings a new
    // sign-in, and the call goes through.
    void serviceRestartedForgetsTheToken() {
        TApiClient api(FService.BaseUrl());
        TExtractRequest request{QStringLiteral("AST 24 U/L 13-30"), Email, Pwd, QString()};
        QVERIFY(RunExtractTask(api, request).Ok);
        const QString before = api.Token();
        QVERIFY(FService.Restart());
        const TExtractResult r = RunExtractTask(api, request);
        QVERIFY2(r.Ok, qPrintable(r.Error));
        QCOMPARE(r.Values.size(), 1);
        QVERIFY(api.Token() != before);
    }

    void resultsComeBackOnTheOwnersThread() {
        TRecognitionJob job;
        QVERIFY(!job.HasClient() && job.IdleClient() == nullptr);
        job.EnsureClient({QStringLiteral("http://127.0.0.1:1"), Email, Pwd});
        job.EnsureClient({FService.BaseUrl(), Email, Pwd}); // follows the URL of the press
        Script({QStringLiteral("/api/image-jobs/upload"), 200, R"({"extracted_text":"x"})"});
        QThread* ownerThread = QThread::currentThread();
        QThread* seenOn = nullptr;
        bool busyWhenSeen = true;
        connect(&job, &TRecognitionJob::OcrFinished, this, [&](const TOcrResult&) {
            seenOn = QThread::currentThread();
            busyWhenSeen = job.IsBusy();
        });
        QSignalSpy finished(&job, &TRecognitionJob::OcrFinished);
        job.StartOcr(OcrRequest());
        QVERIFY(job.IsBusy());
        QVERIFY(job.IdleClient() == nullptr); // nobody else may use the client meanwhile
        QVERIFY(finished.wait(10000));
        QCOMPARE(seenOn, ownerThread);
        QVERIFY(!busyWhenSeen);
        QVERIFY(job.IdleClient() != nullptr);
        QCOMPARE(job.IdleClient()->BaseUrl(), FService.BaseUrl());
        QVERIFY(finished[0][0].value<TOcrResult>().Ok);
    }

    // The client follows the account: another e-mail address signs in anew, the same one
    // keeps its sign-in; a running task keeps the client it started with.
    void clientFollowsTheAccount() {
        TRecognitionJob job;
        job.EnsureClient({FService.BaseUrl(), Email, Pwd});
        QString error;
        QVERIFY(job.IdleClient()->Login(Email, Pwd, error));
        const TApiClient* first = job.IdleClient();
        job.EnsureClient({FService.BaseUrl(), Email, QStringLiteral("changed")});
        QCOMPARE(job.IdleClient(), first);
        QVERIFY(!job.IdleClient()->Token().isEmpty());
        job.EnsureClient({FService.BaseUrl(), QStringLiteral("other@example.com"), Pwd});
        QVERIFY(job.IdleClient()->Token().isEmpty());

        Script({QStringLiteral("/api/image-jobs/upload"), 200, R"({"extracted_text":"x"})"}, 300);
        QSignalSpy finished(&job, &TRecognitionJob::OcrFinished);
        job.EnsureClient({FService.BaseUrl(), Email, Pwd});
        job.StartOcr(OcrRequest());
        job.EnsureClient({QStringLiteral("http://127.0.0.1:1"), Email, Pwd}); // ignored: busy
        QVERIFY(finished.wait(10000));
        QVERIFY(finished[0][0].value<TOcrResult>().Ok);
        QCOMPARE(job.IdleClient()->BaseUrl(), FService.BaseUrl());
    }

    // The owner goes while the service takes its time: the call is cut short, nothing
    // is delivered anywhere, and nobody waits for the service.
    void ownerGoesWhileATaskRuns() {
        Script({QStringLiteral("/api/image-jobs/upload"), 200, R"({"extracted_text":"late"})"},
               20000);
        bool delivered = false;
        {
            TRecognitionJob job;
            connect(&job, &TRecognitionJob::OcrFinished, this, [&] { delivered = true; });
            job.EnsureClient({FService.BaseUrl(), Email, Pwd});
            job.StartOcr(OcrRequest());
            QTRY_COMPARE(Count("/api/image-jobs/upload"), 1); // the upload is under way
        }
        QElapsedTimer t;
        t.start();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
        QVERIFY2(t.elapsed() < 5000,
                 "the cancelled call should end long before the service answers");
        QCoreApplication::processEvents();
        QVERIFY(!delivered);
    }
};

QTEST_MAIN(TestRecognitionJob)
#include "tst_recognitionjob.moc"
