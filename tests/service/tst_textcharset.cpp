// Received texts in the charset their media type declares: converted when valid in it,
// kept byte for byte otherwise.
#include "service/uTextCharset.h"

#include <QtTest>

class TestTextCharset : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void toUtf8_data() {
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("utf8");
        const QByteArray sjis("\x8C\x9F\x8D\xB8"
                              " AST 24"); // 検査 in Shift_JIS
        QTest::newRow("no charset: as it is")
            << "text/plain" << QByteArray("caf\xC3\xA9") << QByteArray("caf\xC3\xA9");
        QTest::newRow("utf-8 declared")
            << "text/plain; charset=UTF-8" << QByteArray("a") << QByteArray("a");
        QTest::newRow("latin-1") << "text/plain; charset=iso-8859-1" << QByteArray("caf\xE9")
                                 << QByteArray("caf\xC3\xA9");
        QTest::newRow("Shift_JIS, quoted, odd blanks")
            << "text/plain ; Charset = \"Shift_JIS\"" << sjis
            << QStringLiteral("検査 AST 24").toUtf8();
        QTest::newRow("Shift_JIS broken: kept")
            << "text/plain; charset=shift_jis" << QByteArray("\x8C") << QByteArray("\x8C");
        QTest::newRow("unknown charset: kept")
            << "text/plain; charset=x-nonsense" << QByteArray("\xE9") << QByteArray("\xE9");
        QTest::newRow("another parameter first")
            << "text/plain; format=flowed; charset=windows-1252" << QByteArray("\x93q\x94")
            << QStringLiteral("“q”").toUtf8();
        // Converting would take several times the size; the window keeps it as received.
        const QByteArray large = QByteArray("caf\xE9 ").repeated(900000);
        QTest::newRow("over 4 MiB: kept") << "text/plain; charset=iso-8859-1" << large << large;
    }
    void toUtf8() {
        QFETCH(QString, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, utf8);
        QCOMPARE(TextAsUtf8(contentType, body), utf8);
    }
};

QTEST_GUILESS_MAIN(TestTextCharset)
#include "tst_textcharset.moc"
