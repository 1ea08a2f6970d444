// What the service keeps between requests stays bounded: tokens lapse and are capped per
// account, a receiver's stop leaves nothing behind, and failed sign-ins slow down.
#include <QtTest>

#include <atomic>
#include <thread>

#include "store/uAccounts.h"
#include "store/uItemQueues.h"
#include "store/uSignInThrottle.h"

using namespace std::chrono;

class TStoreTest : public QObject {
    Q_OBJECT

private slots:
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
        TItemQueues Queues(10, 1 << 20);
        std::atomic<int> Ended = 0;
        std::vector<std::thread> Polls;
        for (int i = 0; i < 3; ++i) {
            Polls.emplace_back([&, i] {
                TTransferItem Item;
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
        TTransferItem Item;
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
