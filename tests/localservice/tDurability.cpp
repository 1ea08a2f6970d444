// A clinic's service is killed (SIGKILL) at random moments while phones send and while a
// receiver takes the items, and started again on the same data folder: every item that got a
// success answer arrives with its bytes, none twice unless a kill cut its answer short, none
// that was refused; the accounts and the extraction items are still there.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "uLocalService.h"

namespace {

const QString kTrialUser = QStringLiteral("phone@example.com:secret");
const QByteArray kClinicEmail = "clinic@example.com";
const QByteArray kClinicPassword = "clinic password 7";
const QByteArray kPhoneSignIn = "{\"email\":\"phone@example.com\",\"password\":\"secret\"}";

// Each item's bytes follow from its number, small ones kept in the database and large ones in
// files of their own.
QByteArray ItemBytes(int ANumber) {
    QRandomGenerator Random(static_cast<quint32>(ANumber));
    const int Size = ANumber % 3 == 0 ? 300 + ANumber % 1000 : 70 * 1024 + ANumber * 997 % 400000;
    QByteArray Bytes(Size, Qt::Uninitialized);
    for (char& Byte : Bytes) {
        Byte = static_cast<char>(Random.generate());
    }
    return Bytes;
}

QString ItemName(int ANumber) {
    return QStringLiteral("item-%1.jpg").arg(ANumber);
}

enum class TOutcome { Accepted, Refused, Cut };

// One phone: sends numbered items until told to stop, signing in again when a restart has
// forgotten its token. Speaks HTTP through full URLs only, so that it never reads the runner's
// state while the main thread restarts the service.
class TPhone {
public:
    TPhone(TLocalService& AService, QString ABase, std::atomic<int>& ANext)
        : FService(AService), FBase(std::move(ABase)), FNext(ANext) {}

    void Run(const std::atomic<bool>& AStop) {
        while (!AStop) {
            if (FToken.isEmpty() && !SignIn()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const int Number = FNext++;
            const auto Reply = Send(Number);
            if (Reply.Status == 401) {
                FToken.clear();
            }
            std::lock_guard Guard(FLock);
            FOutcomes[Number] = Reply.Status == 202 ? TOutcome::Accepted
                                : Reply.Status == 0 ? TOutcome::Cut
                                                    : TOutcome::Refused;
        }
    }
    std::map<int, TOutcome> Outcomes() const {
        std::lock_guard Guard(FLock);
        return FOutcomes;
    }

private:
    bool SignIn() {
        const auto Reply =
            FService.Call("POST", FBase + QStringLiteral("/api/auth/login"),
                          {{"Content-Type", "application/json"}}, kPhoneSignIn, 5000);
        FToken = QJsonDocument::fromJson(Reply.Body)["access_token"].toString().toUtf8();
        return Reply.Status == 200 && !FToken.isEmpty();
    }
    TLocalService::TReply Send(int ANumber) {
        const QByteArray Boundary = "durability-boundary";
        const QByteArray Body =
            "--" + Boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
            ItemName(ANumber).toUtf8() + "\"\r\nContent-Type: image/jpeg\r\n\r\n" +
            ItemBytes(ANumber) + "\r\n--" + Boundary + "--\r\n";
        return FService.Call("POST", FBase + QStringLiteral("/api/image-transfer/send"),
                             {{"Authorization", "Bearer " + FToken},
                              {"Content-Type", "multipart/form-data; boundary=" + Boundary}},
                             Body, 10000);
    }

    TLocalService& FService;
    const QString FBase;
    std::atomic<int>& FNext;
    QByteArray FToken;
    mutable std::mutex FLock;
    std::map<int, TOutcome> FOutcomes;
};

int ItemNumber(const TLocalService::TReply& AReply) {
    QString Name =
        QString::fromUtf8(QByteArray::fromPercentEncoding(AReply.Header("X-Image-Filename")));
    Name.remove(QStringLiteral("item-")).remove(QStringLiteral(".jpg"));
    bool Ok = false;
    const int Number = Name.toInt(&Ok);
    return Ok ? Number : -1;
}

} // namespace

class TDurabilityTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FData;
    TLocalService FService;
    const QJsonArray FItems{
        QJsonObject{{"name", "HbA1c"}, {"aliases", QJsonArray{"A1c", "ヘモグロビンA1c"}}},
        QJsonObject{{"name", "CRP"}, {"aliases", QJsonArray{}}}};

    QString ClinicToken() {
        const auto Reply = FService.Call(
            "POST", QStringLiteral("/api/auth/login"), {{"Content-Type", "application/json"}},
            QJsonDocument(QJsonObject{{"email", QString::fromUtf8(kClinicEmail)},
                                      {"password", QString::fromUtf8(kClinicPassword)}})
                .toJson(QJsonDocument::Compact));
        return QJsonDocument::fromJson(Reply.Body)["access_token"].toString();
    }

    // Every item waiting now, as number → how often it came and whether its bytes were right.
    void Drain(const QString& AToken, std::map<int, int>& ACounts, int& AWrongBytes) {
        while (true) {
            const auto Reply = FService.Poll(AToken, 0);
            if (Reply.Status != 200) {
                QCOMPARE(Reply.Status, 204);
                return;
            }
            const int Number = ItemNumber(Reply);
            ++ACounts[Number];
            AWrongBytes += Reply.Body == ItemBytes(Number) ? 0 : 1;
        }
    }

private slots:
    void initTestCase() {
        QVERIFY(FData.isValid());
        // The clinic's own account, as the administrator adds it.
        QProcess Add;
        Add.start(TLocalService::Program(),
                  {"user", "add", "--data", FData.path(), "--password-stdin", kClinicEmail});
        Add.write(kClinicPassword + "\n");
        Add.closeWriteChannel();
        QVERIFY(Add.waitForFinished(30000));
        QCOMPARE(Add.exitCode(), 0);

        TLocalService::TOptions Options;
        Options.Users = {kTrialUser};
        Options.TestHooks = false;
        Options.DataFolder = FData.path();
        QVERIFY(FService.Start(Options));
        const QString Token = ClinicToken();
        QVERIFY(!Token.isEmpty());
        const auto Saved = FService.Call(
            "PUT", QStringLiteral("/api/extraction/items"),
            {{"Authorization", "Bearer " + Token.toUtf8()}, {"Content-Type", "application/json"}},
            QJsonDocument(QJsonObject{{"items", FItems}}).toJson(QJsonDocument::Compact));
        QCOMPARE(Saved.Status, 200);
    }

    void killedWhileSending() {
        const QString Base = FService.BaseUrl();
        std::atomic<int> Next = 1;
        TPhone First(FService, Base, Next), Second(FService, Base, Next);
        std::atomic<bool> Stop = false;
        std::thread A([&] { First.Run(Stop); });
        std::thread B([&] { Second.Run(Stop); });
        QRandomGenerator Random(7);
        for (int Round = 0; Round < 8; ++Round) {
            QTest::qWait(static_cast<int>(Random.bounded(40, 400)));
            QVERIFY(FService.Restart());
        }
        QTest::qWait(200);
        Stop = true;
        A.join();
        B.join();
        QVERIFY(FService.Restart());

        auto Outcomes = First.Outcomes();
        Outcomes.merge(Second.Outcomes());
        std::map<int, int> Counts;
        int WrongBytes = 0;
        const auto Token = FService.Token(kTrialUser);
        QVERIFY(!Token.isEmpty());
        Drain(Token, Counts, WrongBytes);
        QCOMPARE(WrongBytes, 0);
        int Accepted = 0, Cut = 0;
        for (const auto& [Number, Outcome] : Outcomes) {
            const int Count = Counts.count(Number) ? Counts[Number] : 0;
            switch (Outcome) {
            case TOutcome::Accepted:
                ++Accepted;
                QVERIFY2(
                    Count == 1,
                    qPrintable(QStringLiteral("item %1 came %2 times").arg(Number).arg(Count)));
                break;
            case TOutcome::Refused:
                QVERIFY2(Count == 0,
                         qPrintable(QStringLiteral("refused item %1 came").arg(Number)));
                break;
            case TOutcome::Cut:
                // Stored or not when the kill came: either way at most once.
                ++Cut;
                QVERIFY2(
                    Count <= 1,
                    qPrintable(QStringLiteral("cut item %1 came %2 times").arg(Number).arg(Count)));
                break;
            }
            Counts.erase(Number);
        }
        QVERIFY2(Counts.empty(), "an item came that was never sent");
        QVERIFY2(Accepted > 20, qPrintable(QString::number(Accepted)));
        qInfo("%d items accepted, %d cut by a kill", Accepted, Cut);
    }

    // A receiver that is taking items when the kill comes loses none: an item leaves the store
    // only once its answer is written whole, so at most the one in flight comes again.
    void killedWhileReceiving() {
        std::atomic<int> Next = 100000;
        TPhone Phone(FService, FService.BaseUrl(), Next);
        std::atomic<bool> Stop = false;
        std::thread Sender([&] { Phone.Run(Stop); });
        QTRY_VERIFY(Next > 100060);
        Stop = true;
        Sender.join();
        std::set<int> Accepted;
        for (const auto& [Number, Outcome] : Phone.Outcomes()) {
            if (Outcome == TOutcome::Accepted) {
                Accepted.insert(Number);
            }
        }

        std::map<int, int> Counts;
        int WrongBytes = 0;
        int Kills = 0;
        std::atomic<bool> Receiving = true;
        std::mutex Lock;
        const QString Base = FService.BaseUrl();
        QString Token = FService.Token(kTrialUser);
        // Polls from its own thread with full URLs; the main thread kills.
        std::thread Receiver([&] {
            QString CurrentToken = Token;
            while (Receiving) {
                const auto Reply = FService.Call(
                    "GET", Base + QStringLiteral("/api/image-transfer/native/poll?wait=1"),
                    {{"Authorization", "Bearer " + CurrentToken.toUtf8()}}, {}, 5000);
                if (Reply.Status == 401 || Reply.Status == 0) {
                    const auto SignedIn =
                        FService.Call("POST", Base + QStringLiteral("/api/auth/login"),
                                      {{"Content-Type", "application/json"}}, kPhoneSignIn, 5000);
                    CurrentToken =
                        QJsonDocument::fromJson(SignedIn.Body)["access_token"].toString();
                    continue;
                }
                if (Reply.Status == 200) {
                    std::lock_guard Guard(Lock);
                    const int Number = ItemNumber(Reply);
                    ++Counts[Number];
                    WrongBytes += Reply.Body == ItemBytes(Number) ? 0 : 1;
                }
            }
        });
        QRandomGenerator Random(11);
        for (; Kills < 8; ++Kills) {
            QTest::qWait(static_cast<int>(Random.bounded(5, 60)));
            QVERIFY(FService.Restart());
        }
        QTest::qWait(1500);
        Receiving = false;
        Receiver.join();
        Token = FService.Token(kTrialUser);
        Drain(Token, Counts, WrongBytes);

        QCOMPARE(WrongBytes, 0);
        int Duplicates = 0;
        for (const int Number : Accepted) {
            QVERIFY2(Counts.count(Number), qPrintable(QStringLiteral("item %1 lost").arg(Number)));
            Duplicates += Counts[Number] - 1;
        }
        QVERIFY2(Duplicates <= Kills, qPrintable(QString::number(Duplicates)));
    }

    // A photo whose body file has gone (removed by hand, a broken disk) holds up none of the
    // items sent after it: the poll that meets it fails once, and the rest come.
    void aLostBodyHoldsUpNothing() {
        QTemporaryDir Data;
        TLocalService Service;
        TLocalService::TOptions Options;
        Options.Users = {kTrialUser};
        Options.TestHooks = false;
        Options.DataFolder = Data.path();
        QVERIFY(Service.Start(Options));
        QCOMPARE(Service.SendFile(kTrialUser, ItemName(1), "image/jpeg", ItemBytes(1)), 202);
        QCOMPARE(Service.SendFile(kTrialUser, ItemName(2), "image/jpeg", ItemBytes(2)), 202);
        QCOMPARE(Service.SendText(kTrialUser, QStringLiteral("3")), 202);
        // The first photo's file is the one of its size.
        const QFileInfoList Bodies =
            QDir(Data.filePath(QStringLiteral("items"))).entryInfoList(QDir::Files);
        QCOMPARE(Bodies.size(), 2);
        const auto First = std::find_if(Bodies.begin(), Bodies.end(), [](const QFileInfo& AFile) {
            return AFile.size() == ItemBytes(1).size();
        });
        QVERIFY(First != Bodies.end());
        QVERIFY(QFile::remove(First->filePath()));

        const QString Token = Service.Token(kTrialUser);
        QCOMPARE(Service.Poll(Token, 0).Status, 500);
        const auto Second = Service.Poll(Token, 0);
        QCOMPARE(ItemNumber(Second), 2);
        QCOMPARE(Second.Body, ItemBytes(2));
        QCOMPARE(Service.Poll(Token, 0).Body, QByteArray("3"));
    }

    // What the administrator set up survives every kill.
    void accountsAndExtractionItemsSurvive() {
        const QString Token = ClinicToken();
        QVERIFY(!Token.isEmpty());
        const auto Reply = FService.Call("GET", QStringLiteral("/api/extraction/items"),
                                         {{"Authorization", "Bearer " + Token.toUtf8()}});
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(QJsonDocument::fromJson(Reply.Body)["items"].toArray(), FItems);
    }
};

QTEST_MAIN(TDurabilityTest)
#include "tDurability.moc"
