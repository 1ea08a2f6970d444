// The QR code that pairs a phone with scanlume-local: the drawing read back module by module
// and compared with libqrencode's own code for the text, "scanlume-local qr" as a real process,
// and the code the service prints at start.
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <qrencode.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <sstream>
#include <vector>

#include "qr/uSendPageQr.h"
#include "uLocalService.h"

namespace {

struct TRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

TRun Run(const QStringList& AArgs) {
    QProcess Process;
    Process.start(TLocalService::Program(), AArgs);
    TRun Result;
    if (!Process.waitForFinished(20000)) {
        Process.kill();
        Process.waitForFinished();
        Result.Err = QStringLiteral("<did not finish>");
        return Result;
    }
    Result.ExitCode = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    Result.Out = QString::fromUtf8(Process.readAllStandardOutput());
    Result.Err = QString::fromUtf8(Process.readAllStandardError());
    return Result;
}

// This machine's IPv4 addresses that a phone on its network could reach.
QStringList PhoneAddresses() {
    QStringList Found;
    ifaddrs* List = nullptr;
    if (getifaddrs(&List) != 0) {
        return Found;
    }
    for (const ifaddrs* It = List; It != nullptr; It = It->ifa_next) {
        if (It->ifa_addr == nullptr || It->ifa_addr->sa_family != AF_INET ||
            (It->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        char Text[INET_ADDRSTRLEN] = {};
        const auto* Address = reinterpret_cast<const sockaddr_in*>(It->ifa_addr);
        const QString Name = inet_ntop(AF_INET, &Address->sin_addr, Text, sizeof(Text)) != nullptr
                                 ? QString::fromLatin1(Text)
                                 : QString();
        if (!Name.isEmpty() && !Name.startsWith(QLatin1String("127.")) &&
            !Name.startsWith(QLatin1String("169.254."))) {
            Found << Name;
        }
    }
    freeifaddrs(List);
    return Found;
}

// AExpected with "ADDR" standing for any address of PhoneAddresses(): whether AUrl is one.
bool UrlMatches(const QString& AUrl, const QString& AExpected) {
    if (!AExpected.contains(QLatin1String("ADDR"))) {
        return AUrl == AExpected;
    }
    const QStringList Addresses = PhoneAddresses();
    return std::any_of(Addresses.begin(), Addresses.end(), [&](const QString& AAddress) {
        return AUrl == QString(AExpected).replace(QLatin1String("ADDR"), AAddress);
    });
}

bool IsDrawing(const QString& ALine) {
    return !ALine.isEmpty() && std::all_of(ALine.begin(), ALine.end(), [](QChar C) {
        return C == u' ' || C == u'█' || C == u'▀' || C == u'▄';
    });
}

// Reads the half-block drawing back into modules (a block is a light module, the background a
// dark one) and compares them with libqrencode's code for AText at level M, the quiet zone
// around it light. Empty when they agree, else the first difference.
QString DrawingMismatch(const QStringList& ALines, const QByteArray& AText) {
    QRcode* Code = QRcode_encodeString(AText.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (Code == nullptr) {
        return QStringLiteral("libqrencode cannot encode the text");
    }
    const int Modules = Code->width;
    std::vector<bool> Dark;
    for (int i = 0; i < Modules * Modules; ++i) {
        Dark.push_back((Code->data[i] & 1) != 0);
    }
    QRcode_free(Code);

    if (ALines.isEmpty()) {
        return QStringLiteral("nothing drawn");
    }
    const qsizetype Width = ALines[0].size();
    for (qsizetype Y = 0; Y < ALines.size(); ++Y) {
        if (ALines[Y].size() != Width) {
            return QStringLiteral("line %1 is %2 characters wide, the first %3")
                .arg(Y)
                .arg(ALines[Y].size())
                .arg(Width);
        }
        if (!IsDrawing(ALines[Y])) {
            return QStringLiteral("line %1 has other characters than half blocks: %2")
                .arg(Y)
                .arg(ALines[Y]);
        }
    }
    const qsizetype Quiet = (Width - Modules) / 2;
    if ((Width - Modules) % 2 != 0 || Quiet < 2) {
        return QStringLiteral("%1 characters wide for %2 modules: no quiet zone of 2 or more")
            .arg(Width)
            .arg(Modules);
    }
    if (ALines.size() != (Width + 1) / 2) {
        return QStringLiteral("%1 lines for %2 module rows").arg(ALines.size()).arg(Width);
    }
    for (qsizetype Y = 0; Y < 2 * ALines.size(); ++Y) {
        for (qsizetype X = 0; X < Width; ++X) {
            const QChar C = ALines[Y / 2][X];
            const bool Light = C == u'█' || C == (Y % 2 == 0 ? u'▀' : u'▄');
            if (Y >= Width) {
                if (Light) {
                    return QStringLiteral("drawn below the last row at column %1").arg(X);
                }
                continue;
            }
            const qsizetype MX = X - Quiet, MY = Y - Quiet;
            const bool Inside = MX >= 0 && MY >= 0 && MX < Modules && MY < Modules;
            if (Light == (Inside && Dark[MY * Modules + MX])) {
                return QStringLiteral("%1 (%2, %3) drawn %4")
                    .arg(Inside ? "module" : "quiet zone")
                    .arg(MX)
                    .arg(MY)
                    .arg(Light ? "light" : "dark");
            }
        }
    }
    return {};
}

// The URL line and the drawing that follows it in AText, from the first line that starts
// with "http"; ADrawing empty when there is none.
void FindCode(const QString& AText, QString& AUrl, QStringList& ADrawing) {
    const QStringList Lines = AText.split(u'\n');
    AUrl.clear();
    ADrawing.clear();
    for (qsizetype i = 0; i < Lines.size(); ++i) {
        if (Lines[i].startsWith(QLatin1String("http"))) {
            AUrl = Lines[i];
            for (++i; i < Lines.size() && IsDrawing(Lines[i]); ++i) {
                ADrawing << Lines[i];
            }
            return;
        }
    }
}

} // namespace

class TQrCodeTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FTls;

private slots:
    void initTestCase() {
        QVERIFY(!TLocalService::Program().isEmpty());
        QVERIFY(FTls.isValid());
        QCOMPARE(Run({"certificate", "--out", FTls.path()}).ExitCode, 0);
    }

    void drawingReadsBackAsTheCode_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("one character (the smallest code)") << QByteArray("1");
        QTest::newRow("a sending page") << QByteArray("http://192.168.100.200:8765/");
        QTest::newRow("IPv6 over https") << QByteArray("https://[fd00::1234:5678:9abc]:8443/");
        QTest::newRow("not ASCII") << QStringLiteral("https://診療所.example/送信").toUtf8();
        QTest::newRow("a long address (a large code)")
            << "https://clinic.example/send?" + QByteArray(600, 'x');
    }
    void drawingReadsBackAsTheCode() {
        QFETCH(QByteArray, text);
        QStringList Lines;
        for (const std::string& Line : QrCodeLines(text.toStdString())) {
            Lines << QString::fromStdString(Line);
        }
        const QString Mismatch = DrawingMismatch(Lines, text);
        QVERIFY2(Mismatch.isEmpty(), qPrintable(Mismatch));
    }

    void tooLongForACode() {
        QVERIFY(QrCodeLines(std::string(3000, 'a')).empty());
        std::ostringstream Out;
        QVERIFY(!PrintSendPageQr(Out, "http://clinic.example/" + std::string(3000, 'a')));
        QVERIFY(Out.str().empty());
    }

    void addressForPhones_data() {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("expected");
        QTest::newRow("loopback and link-local passed over")
            << QStringList{"127.0.0.1", "169.254.12.7", "192.168.1.20", "10.0.0.5"}
            << QStringLiteral("192.168.1.20");
        QTest::newRow("the first of the network's")
            << QStringList{"10.1.2.3", "192.168.1.20"} << QStringLiteral("10.1.2.3");
        QTest::newRow("none a phone reaches")
            << QStringList{"127.0.0.1", "169.254.1.1", "0.0.0.0"} << QString();
        QTest::newRow("no interface") << QStringList{} << QString();
    }
    void addressForPhones() {
        QFETCH(QStringList, addresses);
        QFETCH(QString, expected);
        std::vector<std::string> Addresses;
        for (const QString& Address : addresses) {
            Addresses.push_back(Address.toStdString());
        }
        QCOMPARE(QString::fromStdString(PhoneReachableAddress(Addresses)), expected);
    }

    void commandDrawsTheSendingPage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("url"); // ADDR: any address of this machine a phone reaches
        QTest::newRow("the URL as given") << QStringList{"--url", "https://clinic.example/send"}
                                          << QStringLiteral("https://clinic.example/send");
        QTest::newRow("every address by default")
            << QStringList{} << QStringLiteral("http://ADDR:8765/");
        QTest::newRow("every IPv4 address over https")
            << QStringList{"--listen", "0.0.0.0:8443", "--https"}
            << QStringLiteral("https://ADDR:8443/");
        QTest::newRow("every IPv6 address")
            << QStringList{"--listen=[::]:8765"} << QStringLiteral("http://ADDR:8765/");
        QTest::newRow("an address of the clinic's network")
            << QStringList{"--listen", "192.0.2.7:9000"}
            << QStringLiteral("http://192.0.2.7:9000/");
        QTest::newRow("an IPv6 address") << QStringList{"--listen", "[fd00::5]:8765"}
                                         << QStringLiteral("http://[fd00::5]:8765/");
        QTest::newRow("a host name") << QStringList{"--listen", "clinic-pc.local:8765"}
                                     << QStringLiteral("http://clinic-pc.local:8765/");
    }
    void commandDrawsTheSendingPage() {
        QFETCH(QStringList, args);
        QFETCH(QString, url);
        if (url.contains(QLatin1String("ADDR")) && PhoneAddresses().isEmpty()) {
            QSKIP("this machine has no address beyond loopback");
        }
        const TRun Result = Run(QStringList{"qr"} + args);
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY2(Result.Err.isEmpty(), qPrintable(Result.Err));
        QStringList Lines = Result.Out.split(u'\n');
        QCOMPARE(Lines.takeLast(), QString()); // ends with a line break
        const QString Url = Lines.takeFirst();
        QVERIFY2(UrlMatches(Url, url), qPrintable(Url));
        const QString Mismatch = DrawingMismatch(Lines, Url.toUtf8());
        QVERIFY2(Mismatch.isEmpty(), qPrintable(Mismatch));
    }

    void commandRefusesBadInput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString Scheme = QStringLiteral("starts with http:// or https://");
        const QString Unreachable = QStringLiteral("a phone cannot reach it");
        QTest::newRow("url of another scheme")
            << QStringList{"--url", "ftp://clinic.example/"} << 2 << Scheme;
        QTest::newRow("url without a scheme")
            << QStringList{"--url", "clinic.example:8765"} << 2 << Scheme;
        QTest::newRow("url without a host") << QStringList{"--url", "http://"} << 2 << Scheme;
        QTest::newRow("url with a line break")
            << QStringList{"--url", "http://clinic.example/\nmore"} << 2 << Scheme;
        QTest::newRow("url too long for a code")
            << QStringList{"--url", "http://clinic.example/" + QString(3000, u'x')} << 2
            << QStringLiteral("too long for a QR code");
        QTest::newRow("url beside listen")
            << QStringList{"--url", "http://clinic.example/", "--listen", "0.0.0.0:8765"} << 2
            << QStringLiteral("--url is the whole address");
        QTest::newRow("loopback") << QStringList{"--listen", "127.0.0.1:8765"} << 2 << Unreachable;
        QTest::newRow("localhost") << QStringList{"--listen", "localhost:8765"} << 2 << Unreachable;
        QTest::newRow("IPv6 loopback") << QStringList{"--listen", "[::1]:8765"} << 2 << Unreachable;
        QTest::newRow("port 0") << QStringList{"--listen", "0.0.0.0:0"} << 2
                                << QStringLiteral("not 0");
        QTest::newRow("listen without a port")
            << QStringList{"--listen", "0.0.0.0"} << 2 << QStringLiteral("--listen expects");
        QTest::newRow("value missing")
            << QStringList{"--url"} << 2 << QStringLiteral("--url needs a value");
        QTest::newRow("unknown option")
            << QStringList{"--port", "8765"} << 2 << QStringLiteral("unknown argument \"--port\"");
        QTest::newRow("flag with a value")
            << QStringList{"--https=yes"} << 2 << QStringLiteral("unknown argument");
    }
    void commandRefusesBadInput() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const TRun Result = Run(QStringList{"qr"} + args);
        QCOMPARE(Result.ExitCode, exitCode);
        QVERIFY2(Result.Err.contains(message), qPrintable(Result.Err));
        QVERIFY2(Result.Out.isEmpty(), qPrintable(Result.Out));
    }

    void helpNamesTheCommand() {
        const TRun Own = Run({"qr", "--help"});
        QCOMPARE(Own.ExitCode, 0);
        QVERIFY2(Own.Out.startsWith(QStringLiteral("usage: scanlume-local qr")),
                 qPrintable(Own.Out));
        const TRun Service = Run({"--help"});
        QCOMPARE(Service.ExitCode, 0);
        QVERIFY2(Service.Out.contains(QStringLiteral("scanlume-local qr")),
                 qPrintable(Service.Out));
    }

    // Beyond loopback the service draws its sending page on standard error once it listens;
    // standard output stays the ready line alone.
    void serviceShowsTheCodeAtStart_data() {
        QTest::addColumn<QString>("host"); // ADDR: an address of this machine a phone reaches
        QTest::addColumn<bool>("https");
        QTest::addColumn<QString>("url"); // PORT: the port listened on
        QTest::newRow("every IPv4 address")
            << QStringLiteral("0.0.0.0") << false << QStringLiteral("http://ADDR:PORT/");
        QTest::newRow("every IPv4 address over https")
            << QStringLiteral("0.0.0.0") << true << QStringLiteral("https://ADDR:PORT/");
        QTest::newRow("every address")
            << QStringLiteral("[::]") << false << QStringLiteral("http://ADDR:PORT/");
        QTest::newRow("this machine's address")
            << QStringLiteral("ADDR") << false << QStringLiteral("http://ADDR:PORT/");
        QTest::newRow("loopback") << QStringLiteral("127.0.0.1") << false << QString();
    }
    void serviceShowsTheCodeAtStart() {
        QFETCH(QString, host);
        QFETCH(bool, https);
        QFETCH(QString, url);
        const QStringList Addresses = PhoneAddresses();
        if ((host + url).contains(QLatin1String("ADDR")) && Addresses.isEmpty()) {
            QSKIP("this machine has no address beyond loopback");
        }
        if (host == QLatin1String("ADDR")) {
            host = Addresses.value(0);
            url.replace(QLatin1String("ADDR"), host);
        }
        QTemporaryDir Data;
        QVERIFY(Data.isValid());
        QStringList Args{"--listen", host + ":0",   "--user", "clinic@example.com:pw",
                         "--quiet",  "--no-preload"};
        Args << "--data" << Data.path();
        if (https) {
            Args << "--tls-cert" << FTls.filePath("cert.pem") << "--tls-key"
                 << FTls.filePath("key.pem");
        }
        QProcess Process;
        Process.start(TLocalService::Program(), Args);
        QByteArray Out;
        QElapsedTimer Timer;
        Timer.start();
        while (!Out.contains('\n') && Timer.elapsed() < 10000 && Process.waitForReadyRead(1000)) {
            Out += Process.readAllStandardOutput();
        }
        Process.terminate();
        QVERIFY(Process.waitForFinished(10000));
        Out += Process.readAllStandardOutput();
        const QString Err = QString::fromUtf8(Process.readAllStandardError());
        if (host == QLatin1String("[::]") && Err.contains(QLatin1String("cannot listen"))) {
            QSKIP("this machine has no IPv6");
        }
        QVERIFY2(Process.exitCode() == 0, qPrintable(Err));
        const QList<QByteArray> OutLines = Out.trimmed().split('\n');
        QCOMPARE(OutLines.size(), 1);
        QVERIFY2(OutLines[0].startsWith("listening on "), Out.constData());
        const QString Port = QString::number(QUrl(QString::fromUtf8(OutLines[0].mid(13))).port());

        QString Shown;
        QStringList Drawing;
        FindCode(Err, Shown, Drawing);
        if (url.isEmpty()) {
            QVERIFY2(Shown.isEmpty() && !Err.contains(u'█'), qPrintable(Err));
            return;
        }
        QVERIFY2(UrlMatches(Shown, QString(url).replace(QLatin1String("PORT"), Port)),
                 qPrintable(Err));
        const QString Mismatch = DrawingMismatch(Drawing, Shown.toUtf8());
        QVERIFY2(Mismatch.isEmpty(), qPrintable(Mismatch + u'\n' + Err));
    }
};

QTEST_GUILESS_MAIN(TQrCodeTest)
#include "tQrCode.moc"
