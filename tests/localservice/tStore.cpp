// What the service keeps: items, extraction items and accounts survive a reopening of the
// store, and what it keeps between requests stays bounded: tokens lapse and are capped per
// account, a receiver's stop leaves nothing behind, and failed sign-ins slow down.
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include "store/uAccounts.h"
#include "store/uItemQueues.h"
#include "store/uItemStore.h"
#include "store/uPasswordHash.h"
#include "store/uSignInThrottle.h"
#include "store/uSqliteStore.h"

using namespace std::chrono;

namespace {

std::unique_ptr<TSqliteStore> OpenStore(const QTemporaryDir& ADir,
                                        TSqliteStore::TUse AUse = TSqliteStore::TUse::Service) {
    std::string Error;
    auto Store =
        TSqliteStore::Open(ADir.filePath(QStringLiteral("data")).toStdString(), AUse, Error);
    if (!Store) {
        qWarning() << "cannot open the store:" << Error.c_str();
    }
    return Store;
}

std::string Take(TItemQueues& AQueues, const std::string& AAccount, TStoredItem& AItem) {
    if (AQueues.Take(AAccount, "r", milliseconds(0), AItem) != TItemQueues::TTakeResult::Item) {
        return "<none>";
    }
    return AItem.Filename + "=" + AQueues.Body(AItem).value_or("<no body>");
}

} // namespace

class TStoreTest : public QObject {
    Q_OBJECT

private slots:
    // What a receiver took whole is gone after a restart; what it did not take, or took and
    // lost on the way, comes again, in the order it was sent, for its own account only.
    void waitingItemsSurviveAReopening() {
        QTemporaryDir Dir;
        {
            auto Store = OpenStore(Dir);
            QVERIFY(Store);
            TItemQueues Queues(*Store, 10, 1 << 20);
            QVERIFY(Queues.Load());
            for (const char* Name : {"a1", "a2", "a3", "a4"}) {
                QCOMPARE(Queues.Push("a@b.c", {Name, "image/jpeg", std::string(Name) + "-body"}),
                         TItemQueues::TPushResult::Queued);
            }
            QCOMPARE(Queues.Push("x@y.z", {"x1", "text/plain", ""}),
                     TItemQueues::TPushResult::Queued);
            TStoredItem Item;
            QCOMPARE(Take(Queues, "a@b.c", Item), std::string("a1=a1-body"));
            Queues.Delivered(Item);
            QCOMPARE(Take(Queues, "a@b.c", Item), std::string("a2=a2-body"));
            Queues.PutBack(Item);
            QCOMPARE(Take(Queues, "a@b.c", Item), std::string("a2=a2-body"));
            // a2 is on its way when the service stops: it must come again.
        }
        auto Store = OpenStore(Dir);
        QVERIFY(Store);
        TItemQueues Queues(*Store, 10, 1 << 20);
        QVERIFY(Queues.Load());
        QCOMPARE(Queues.Pending("a@b.c"), size_t(3));
        TStoredItem Item;
        for (const char* Expected : {"a2=a2-body", "a3=a3-body", "a4=a4-body"}) {
            QCOMPARE(Take(Queues, "a@b.c", Item), std::string(Expected));
            Queues.Delivered(Item);
        }
        QCOMPARE(Take(Queues, "a@b.c", Item), std::string("<none>"));
        QCOMPARE(Take(Queues, "x@y.z", Item), std::string("x1="));
    }

    // The limits count the items being stored too: parallel sends cannot pass them together,
    // and a refused or failed send leaves its share free.
    void limitsHoldForParallelSends() {
        QTemporaryDir Dir;
        auto Store = OpenStore(Dir);
        QVERIFY(Store);
        TItemQueues Queues(*Store, 10, 10 * 1000);
        std::atomic<int> Queued = 0;
        std::vector<std::thread> Senders;
        for (int i = 0; i < 8; ++i) {
            Senders.emplace_back([&] {
                for (int j = 0; j < 4; ++j) {
                    if (Queues.Push("a@b.c", {"f", "image/jpeg", std::string(1000, 'x')}) ==
                        TItemQueues::TPushResult::Queued) {
                        ++Queued;
                    }
                }
            });
        }
        for (std::thread& Sender : Senders) {
            Sender.join();
        }
        QCOMPARE(Queued.load(), 10);
        QCOMPARE(Queues.Push("a@b.c", {"f", "image/jpeg", "1"}),
                 TItemQueues::TPushResult::TooManyBytes);
        TStoredItem Item;
        QCOMPARE(Queues.Take("a@b.c", "r", milliseconds(0), Item), TItemQueues::TTakeResult::Item);
        Queues.Delivered(Item);
        QCOMPARE(Queues.Push("a@b.c", {"f", "image/jpeg", std::string(1000, 'y')}),
                 TItemQueues::TPushResult::Queued);
    }

    // Saved lists keep their order and aliases; an account that never saved one has the
    // defaults, one that saved an empty list has none; addresses match without regard to case.
    void extractionItemsAreKept() {
        QTemporaryDir Dir;
        const std::vector<TExtractItem> Mine{
            {"HbA1c", {"A1c", "ヘモグロビンA1c"}}, {"CRP", {}}, {"AST", {"GOT"}}};
        {
            auto Store = OpenStore(Dir);
            QVERIFY(Store);
            TItemStore Items(*Store);
            QCOMPARE(Items.Items("a@b.c")->size(), DefaultItems().size());
            QVERIFY(Items.SetItems("a@b.c", {{"old", {"x"}}}));
            QVERIFY(Items.SetItems("A@B.C", Mine));
            QVERIFY(Items.SetItems("empty@b.c", {}));
        }
        auto Store = OpenStore(Dir);
        QVERIFY(Store);
        TItemStore Items(*Store);
        const auto Kept = Items.Items("a@b.c");
        QVERIFY(Kept);
        QCOMPARE(Kept->size(), Mine.size());
        for (size_t i = 0; i < Mine.size(); ++i) {
            QCOMPARE((*Kept)[i].Name, Mine[i].Name);
            QCOMPARE((*Kept)[i].Aliases, Mine[i].Aliases);
        }
        QVERIFY(Items.Items("empty@b.c")->empty());
        QCOMPARE(Items.Items("new@b.c")->size(), DefaultItems().size());
    }

    // A stored account signs in with its password; removing it or changing the password ends
    // the tokens it has, while the service runs.
    void storedAccountsAndTheirTokens() {
        QTemporaryDir Dir;
        auto Store = OpenStore(Dir);
        QVERIFY(Store);
        const auto Hash = HashPassword("first password");
        QVERIFY(Hash && Hash->rfind("$argon2id$", 0) == 0);
        QVERIFY(Hash->find("first password") == std::string::npos);
        QVERIFY(Store->AddAccount("Clinic@example.com", *Hash));
        QVERIFY(!Store->AddAccount("clinic@EXAMPLE.com", *Hash));
        TAccounts Accounts({{"trial@example.com", "pw"}}, Store.get());
        QVERIFY(!Accounts.Login("clinic@example.com", "wrong password"));
        const auto Token = Accounts.Login("CLINIC@example.com", "first password");
        QVERIFY(Token);
        QCOMPARE(Accounts.AccountOf(*Token), std::optional<std::string>("Clinic@example.com"));
        QVERIFY(Accounts.Login("trial@example.com", "pw"));

        QVERIFY(Store->SetPasswordHash("Clinic@example.com", *HashPassword("second password")));
        QVERIFY(!Accounts.AccountOf(*Token));
        QVERIFY(!Accounts.Login("clinic@example.com", "first password"));
        const auto Again = Accounts.Login("clinic@example.com", "second password");
        QVERIFY(Again);
        QVERIFY(Store->RemoveAccount("clinic@example.com"));
        QVERIFY(!Accounts.AccountOf(*Again));
        QVERIFY(!Accounts.Login("clinic@example.com", "second password"));
        QVERIFY(!Store->RemoveAccount("clinic@example.com"));
    }

    // Two services on one folder would hand out the same items twice; the account commands
    // may run beside one.
    void oneServicePerFolder() {
        QTemporaryDir Dir;
        auto First = OpenStore(Dir);
        QVERIFY(First);
        std::string Error;
        QVERIFY(!TSqliteStore::Open(Dir.filePath(QStringLiteral("data")).toStdString(),
                                    TSqliteStore::TUse::Service, Error));
        QVERIFY2(Error.find("in use") != std::string::npos, Error.c_str());
        auto Admin = OpenStore(Dir, TSqliteStore::TUse::Admin);
        QVERIFY(Admin);
        QVERIFY(Admin->AddAccount("a@b.c", *HashPassword("password")));
        QVERIFY(First->FindAccount("A@b.c"));
        First.reset();
        QVERIFY(OpenStore(Dir));
    }

    void tokensLapseWhenIdle() {
        TAccounts Accounts(std::vector<TAccount>{{"a@b.c", "pw"}});
        const auto Start = TAccounts::TClock::now();
        const auto Token = Accounts.Login("a@b.c", "pw", Start);
        QVERIFY(Token);
        // Used every eleven hours, it lives on; left alone for more than twelve, it lapses.
        QVERIFY(Accounts.AccountOf(*Token, Start + hours(11)));
        QVERIFY(Accounts.AccountOf(*Token, Start + hours(22)));
        QVERIFY(!Accounts.AccountOf(*Token, Start + hours(34) + minutes(1)));
        QVERIFY(!Accounts.AccountOf(*Token, Start + hours(35)));
    }

    void tokensPerAccountAreCapped() {
        TAccounts Accounts(std::vector<TAccount>{{"a@b.c", "pw"}, {"x@y.z", "pw"}});
        const auto Start = TAccounts::TClock::now();
        const auto Other = Accounts.Login("x@y.z", "pw", Start);
        std::vector<std::string> Tokens;
        for (size_t i = 0; i < TAccounts::kTokensPerAccount; ++i) {
            Tokens.push_back(*Accounts.Login("a@b.c", "pw", Start + seconds(i)));
        }
        // The first one is used again: the second is now the one used longest ago.
        QVERIFY(Accounts.AccountOf(Tokens[0], Start + hours(1)));
        const auto Newest = Accounts.Login("A@B.C", "pw", Start + hours(1));
        QVERIFY(Newest);
        QVERIFY(Accounts.AccountOf(Tokens[0], Start + hours(1)));
        QVERIFY(!Accounts.AccountOf(Tokens[1], Start + hours(1)));
        QVERIFY(Accounts.AccountOf(Tokens[2], Start + hours(1)));
        // Another account's tokens are not counted against it.
        QVERIFY(Accounts.AccountOf(*Other, Start + hours(1)));
        QCOMPARE(Accounts.TokenCount(), TAccounts::kTokensPerAccount + 1);
        // A sign-in much later sweeps the lapsed tokens of every account.
        QVERIFY(Accounts.Login("x@y.z", "pw", Start + hours(14)));
        QCOMPARE(Accounts.TokenCount(), size_t(1));
    }

    void stoppedReceiversLeaveNothing() {
        QTemporaryDir Dir;
        auto Store = OpenStore(Dir);
        QVERIFY(Store);
        TItemQueues Queues(*Store, 10, 1 << 20);
        std::atomic<int> Ended = 0;
        std::vector<std::thread> Polls;
        for (int i = 0; i < 3; ++i) {
            Polls.emplace_back([&, i] {
                TStoredItem Item;
                Queues.Take("a", "receiver " + std::to_string(i), seconds(20), Item);
                ++Ended;
            });
        }
        QTRY_COMPARE(Queues.ReceiversWaiting(), size_t(3));
        // A stop ends only that receiver's poll.
        Queues.Release("a", "receiver 1");
        QTRY_COMPARE(Ended.load(), 1);
        QCOMPARE(Queues.ReceiversWaiting(), size_t(2));
        // A stop with no poll waiting keeps nothing, and a later poll waits as usual.
        Queues.Release("a", "receiver 1");
        TStoredItem Item;
        QCOMPARE(Queues.Take("a", "receiver 1", milliseconds(50), Item),
                 TItemQueues::TTakeResult::Timeout);
        Queues.Push("a", {"f", "text/plain", "one"});
        Queues.Push("a", {"g", "text/plain", "two"});
        for (std::thread& Poll : Polls) {
            Poll.join();
        }
        QCOMPARE(Queues.ReceiversWaiting(), size_t(0));
    }

    void failedSignInsSlowDown() {
        TSignInThrottle Throttle;
        const auto Start = TSignInThrottle::TClock::now();
        const std::string Address = "192.0.2.7";
        for (int i = 0; i < TSignInThrottle::kFreeFailures; ++i) {
            QCOMPARE(Throttle.WaitSeconds("a@b.c", Address, Start), 0);
            Throttle.Failed("a@b.c", Address, Start);
        }
        QCOMPARE(Throttle.WaitSeconds("a@b.c", Address, Start), 0);
        // Each failure past the free ones doubles the wait, for the account and the address.
        int Expected = 1;
        auto Now = Start;
        for (int i = 0; i < 5; ++i, Expected *= 2) {
            Throttle.Failed("A@B.C", Address, Now);
            QCOMPARE(Throttle.WaitSeconds("a@b.c", "198.51.100.1", Now), Expected);
            QCOMPARE(Throttle.WaitSeconds("other@b.c", Address, Now), Expected);
            QCOMPARE(Throttle.WaitSeconds("other@b.c", "198.51.100.1", Now), 0);
            Now += seconds(Expected);
            QCOMPARE(Throttle.WaitSeconds("a@b.c", Address, Now), 0);
        }
        for (int i = 0; i < 20; ++i) {
            Throttle.Failed("a@b.c", Address, Now);
        }
        QCOMPARE(Throttle.WaitSeconds("a@b.c", Address, Now),
                 int(TSignInThrottle::kLongestWait.count()));
        // The right password, once let through, ends it.
        Throttle.Succeeded("a@b.c", Address);
        QCOMPARE(Throttle.WaitSeconds("a@b.c", Address, Now), 0);
    }

    void thisComputerIsNeverSlowed_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("IPv4") << QStringLiteral("127.0.0.1");
        QTest::newRow("IPv6") << QStringLiteral("::1");
        QTest::newRow("IPv4 in IPv6") << QStringLiteral("::ffff:127.0.0.1");
    }
    void thisComputerIsNeverSlowed() {
        QFETCH(QString, address);
        TSignInThrottle Throttle;
        for (int i = 0; i < 50; ++i) {
            Throttle.Failed("a@b.c", address.toStdString());
        }
        QCOMPARE(Throttle.WaitSeconds("a@b.c", address.toStdString()), 0);
        QCOMPARE(Throttle.WaitSeconds("a@b.c", "192.0.2.7"), 0);
    }

    // Guesses under ever new names from ever new addresses cannot grow the records for ever.
    void throttleRecordsStayBounded() {
        TSignInThrottle Throttle;
        auto Now = TSignInThrottle::TClock::now();
        for (int i = 0; i < 30000; ++i) {
            Throttle.Failed("user" + std::to_string(i) + "@b.c", "10.0." + std::to_string(i), Now);
            Now += milliseconds(1);
        }
        // The newest are still known.
        for (int i = 0; i < 6; ++i) {
            Throttle.Failed("user29999@b.c", "10.0.29999", Now);
        }
        QVERIFY(Throttle.WaitSeconds("user29999@b.c", "10.0.29999", Now) > 0);
    }
};

QTEST_MAIN(TStoreTest)
#include "tStore.moc"
