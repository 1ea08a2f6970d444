// The saved-file history without a window: the name rules, the texts of the table, and
// the scan of real folders with links, odd entries and a folder that cannot be listed.
#include "files/uHistoryScan.h"

#include "uHistoryFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace HistoryScan;

namespace {

#ifdef Q_OS_UNIX
const QByteArray BadName = "/bad\xff.txt";

// Removes the file with the invalid name, which QTemporaryDir cannot reach by a QString.
struct TBadNameRemover {
    QString Folder;
    ~TBadNameRemover() { unlink((QFile::encodeName(Folder) + BadName).constData()); }
};

#endif

} // namespace

class TestHistoryScan : public QObject {
    Q_OBJECT

    // The walk's fixture: listed files at every depth, hidden ones, files that are not
    // listed, and the links and odd entries a real folder may hold. Returns the paths,
    // relative to the folder, of the files that must be listed.
    static QStringList MakeTree(const QString& AFolder, const QString& AOutside) {
        const QStringList listed{
            QStringLiteral("top.jpg"),
            QStringLiteral(".hidden.txt"),
            QStringLiteral(".txt"),
            QStringLiteral("a/pt1_x.png"),
            QStringLiteral("a/b/c/d/e/f/deep.pdf"),
            QStringLiteral(".hiddendir/inside.tif"),
            QStringLiteral("a/.h/12345_20240501_093015.TXT"),
            QStringLiteral("dir.jpg/file.webp"), // a folder whose name looks like a file
        };
        const QStringList unlisted{
            QStringLiteral("memo.docx"),    QStringLiteral("scan.heic"),
            QStringLiteral("noext"),        QStringLiteral("trailing."),
            QStringLiteral("a/photo.jp"),   QStringLiteral("a/b/notes.txt2"),
            QStringLiteral("a/b/c/x.jpg_"), QStringLiteral(".hiddendir/.bashrc"),
        };
        for (const QString& p : listed + unlisted) {
            if (!MakeFile(AFolder + u'/' + p))
                return {};
        }
        if (!MakeFile(AOutside + QStringLiteral("/outside.jpg")) ||
            !QDir().mkpath(AFolder + QStringLiteral("/empty/folder")))
            return {};
        QStringList expected = listed;
#ifdef Q_OS_UNIX
        // Here ":" and "\\" are characters of a name, not separators.
        for (const QString& p :
             {QStringLiteral("a/pt12_a:b.jpg"), QStringLiteral("x\\pt5_y.jpg")}) {
            if (!MakeFile(AFolder + u'/' + p))
                return {};
            expected << p;
        }
        const QByteArray root = QFile::encodeName(AFolder);
        // A link back up (a loop) and a link out of the folder: neither is followed.
        if (symlink("..", (root + "/a/b/up").constData()) != 0 ||
            symlink(QFile::encodeName(AOutside).constData(), (root + "/out").constData()) != 0)
            return {};
        // A link to a listed file is listed; a link to nothing is passed over.
        if (symlink("top.jpg", (root + "/link.jpg").constData()) != 0 ||
            symlink("gone.jpg", (root + "/dangling.jpg").constData()) != 0)
            return {};
        expected << QStringLiteral("link.jpg");
        // A pipe is no file to open, whatever its name.
        if (mkfifo((root + "/pipe.txt").constData(), 0600) != 0)
            return {};
#ifdef Q_OS_LINUX
        // A name that is not valid UTF-8 cannot be opened by its decoded path.
        const int fd = open((root + BadName).constData(), O_CREAT | O_WRONLY, 0600);
        if (fd < 0)
            return {};
        close(fd);
#endif
#endif
        expected.sort();
        return expected;
    }

    static QStringList RelativePaths(const QString& AFolder, const QList<TFileEntry>& AEntries) {
        QStringList paths;
        for (const TFileEntry& e : AEntries)
            paths << e.Path.mid(AFolder.size() + 1);
        paths.sort();
        return paths;
    }

private Q_SLOTS:
    void initTestCase() {
#ifdef Q_OS_UNIX
        // A zone with summer time, away from UTC, so that a wrong offset shows.
        qputenv("TZ", "Europe/Berlin");
        tzset();
#endif
        // The texts below are those of Japanese regional settings.
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    }

    // ---- name rules

    void nameRules_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("karteNo");
        QTest::addColumn<QString>("kind"); // empty: not listed

        // The examples of the rules.
        QTest::newRow("pt prefix, image") << "pt12345_IMG_0001.jpg"
                                          << "12345"
                                          << "画像";
        QTest::newRow("PT prefix, pdf") << "PT7_scan.pdf"
                                        << "7"
                                        << "PDF";
        QTest::newRow("pt prefix, lab result") << "pt00123_OCR_検査_20240501_093015.txt"
                                               << "00123"
                                               << "検査";
        QTest::newRow("lab result") << "12345_検査_20240501_093015.txt"
                                    << "12345"
                                    << "検査";
        QTest::newRow("prescription result") << "12345_処方_20240501_093015.txt"
                                             << "12345"
                                             << "処方";
        QTest::newRow("plain result") << "12345_20240501_093015.txt"
                                      << "12345"
                                      << "テキスト";
        QTest::newRow("result without number") << "OCR_検査_20240501_093015.txt"
                                               << ""
                                               << "検査";
        QTest::newRow("number without stamp") << "12345_photo.jpg"
                                              << ""
                                              << "画像";
        QTest::newRow("stamp one digit short") << "12345_2024051_093015.txt"
                                               << ""
                                               << "テキスト";
        QTest::newRow("pt then underscore") << "pt_123.jpg"
                                            << ""
                                            << "画像";
        QTest::newRow("pt number without underscore") << "pt123.jpg"
                                                      << ""
                                                      << "画像";
        QTest::newRow("kind word without underscore before") << "検査_memo.txt"
                                                             << ""
                                                             << "テキスト";
        QTest::newRow("heic is not listed") << "scan.heic"
                                            << ""
                                            << "";

        // The pt prefix ignores ASCII case only, and needs an ASCII digit third.
        QTest::newRow("Pt") << "Pt42_a.png"
                            << "42"
                            << "画像";
        QTest::newRow("pT") << "pT42_a.gif"
                            << "42"
                            << "画像";
        QTest::newRow("pt, anything after the underscore") << "pt12_.jpg"
                                                           << "12"
                                                           << "画像";
        QTest::newRow("pt, then letters") << "ptx1_a.jpg"
                                          << ""
                                          << "画像";
        QTest::newRow("pt alone") << "pt.jpg"
                                  << ""
                                  << "画像";
        QTest::newRow("full-width pt") << "ｐｔ12_a.jpg"
                                       << ""
                                       << "画像";
        QTest::newRow("full-width digits after pt") << "pt１２３_a.jpg"
                                                    << ""
                                                    << "画像";
        QTest::newRow("full-width number") << "１２３_20240501_093015.txt"
                                           << ""
                                           << "テキスト";
        QTest::newRow("full-width digit ends the run") << "12３_20240501_093015.txt"
                                                       << ""
                                                       << "テキスト";
        QTest::newRow("full-width digit in the stamp") << "12345_20240501_０93015.txt"
                                                       << ""
                                                       << "テキスト";
        QTest::newRow("run reaches the end") << "12345"
                                             << ""
                                             << "";
        QTest::newRow("pt run reaches the end") << "pt12"
                                                << ""
                                                << "";
        QTest::newRow("pt, not listed, number still read") << "pt12_x"
                                                           << "12"
                                                           << "";

        // The result stamp: one kind word removed, then yyyymmdd_hhnnss, anything after.
        QTest::newRow("stamp then anything") << "1_20240501_093015_extra.jpg"
                                             << "1"
                                             << "画像";
        QTest::newRow("stamp exactly 15 characters") << "12_20240501_093015"
                                                     << "12"
                                                     << "";
        QTest::newRow("stamp with a dash") << "12345_20240501-093015.txt"
                                           << ""
                                           << "テキスト";
        QTest::newRow("stamp time short") << "12345_20240501_09301.txt"
                                          << ""
                                          << "テキスト";
        QTest::newRow("kind word without its underscore") << "12345_検査20240501_093015.txt"
                                                          << ""
                                                          << "検査";
        QTest::newRow("two kind words") << "12345_検査_処方_20240501_093015.txt"
                                        << ""
                                        << "検査";
        QTest::newRow("lab after prescription, lab wins the kind")
            << "12345_処方_検査_20240501_093015.txt"
            << ""
            << "検査";
        QTest::newRow("same kind word twice") << "12345_検査_検査_20240501_093015.txt"
                                              << ""
                                              << "検査";

        // Extensions: the last dot on, ASCII case folded, exact entries of the list.
        QTest::newRow("capital PDF") << "SCAN.PDF"
                                     << ""
                                     << "PDF";
        QTest::newRow("capitals keep the lab kind") << "REPORT_検査.TXT"
                                                    << ""
                                                    << "検査";
        QTest::newRow("pt capitals, lab kind") << "PT12_OCR_検査_20240501_093015.TXT"
                                               << "12"
                                               << "検査";
        QTest::newRow("prescription anywhere in the name") << "a_処方x.txt"
                                                           << ""
                                                           << "処方";
        QTest::newRow("kind word in the extension is no txt") << "a._検査"
                                                              << ""
                                                              << "";
        QTest::newRow("only an extension") << ".txt"
                                           << ""
                                           << "テキスト";
        QTest::newRow("last extension counts") << "memo.txt.jpg"
                                               << ""
                                               << "画像";
        QTest::newRow("last extension counts, txt") << "photo.jpg.txt"
                                                    << ""
                                                    << "テキスト";
        QTest::newRow("jpeg") << "a.JPEG"
                              << ""
                              << "画像";
        QTest::newRow("tif") << "a.tif"
                             << ""
                             << "画像";
        QTest::newRow("tiff") << "a.Tiff"
                              << ""
                              << "画像";
        QTest::newRow("webp") << "a.webp"
                              << ""
                              << "画像";
        QTest::newRow("bmp") << "a.bmp"
                             << ""
                             << "画像";
        QTest::newRow("png") << "a.png"
                             << ""
                             << "画像";
        QTest::newRow("gif") << "a.gif"
                             << ""
                             << "画像";
        QTest::newRow("jp is no jpg") << "a.jp"
                                      << ""
                                      << "";
        QTest::newRow("txt2 is no txt") << "a.txt2"
                                        << ""
                                        << "";
        QTest::newRow("two listed extensions in one") << "a.jpg;.png"
                                                      << ""
                                                      << "画像";
        QTest::newRow("list separator after it") << "a.jpg;"
                                                 << ""
                                                 << "";
        QTest::newRow("no dot") << "README"
                                << ""
                                << "";
        QTest::newRow("trailing dot") << "a."
                                      << ""
                                      << "";
        QTest::newRow("full-width dot") << "a．txt"
                                        << ""
                                        << "";
    }
    void nameRules() {
        QFETCH(QString, name);
        QFETCH(QString, karteNo);
        QFETCH(QString, kind);
        QCOMPARE(KarteNoOf(name), karteNo);
        QCOMPARE(KindOf(name), kind);
    }

    // ---- texts of the table

    void sizeText_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        const QLocale ja(QLocale::Japanese, QLocale::Japan);
        const QLocale de(QLocale::German, QLocale::Germany);
        QTest::newRow("unreadable") << qint64(-1) << ja << "0 KB";
        QTest::newRow("0 bytes") << qint64(0) << ja << "0 KB";
        QTest::newRow("1 byte") << qint64(1) << ja << "1 KB";
        QTest::newRow("1024 bytes") << qint64(1024) << ja << "1 KB";
        QTest::newRow("1025 bytes") << qint64(1025) << ja << "2 KB";
        QTest::newRow("999 KB") << qint64(999 * 1024) << ja << "999 KB";
        QTest::newRow("1000 KB") << qint64(1000 * 1024) << ja << "1,000 KB";
        QTest::newRow("10 MB") << qint64(10485760) << ja << "10,240 KB";
        QTest::newRow("10 MB, German") << qint64(10485760) << de << "10.240 KB";
        QTest::newRow("a terabyte and a byte") << qint64(1099511627777) << ja << "1,073,741,825 KB";
        QTest::newRow("largest size")
            << std::numeric_limits<qint64>::max() << ja << "9,007,199,254,740,992 KB";
    }
    void sizeText() {
        QFETCH(qint64, size);
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QCOMPARE(SizeText(size, TRegionalFormat::FromLocale(locale)), text);
    }

    void dateText_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("text");
        const QDateTime evening(QDate(2031, 12, 9), QTime(21, 5, 59, 999));
        QTest::newRow("Japanese") << QLocale(QLocale::Japanese, QLocale::Japan) << T0
                                  << "2024/05/01 09:30";
        QTest::newRow("24-hour clock, seconds dropped")
            << QLocale(QLocale::Japanese, QLocale::Japan) << evening << "2031/12/09 21:05";
        QTest::newRow("German dots")
            << QLocale(QLocale::German, QLocale::Germany) << T0 << "2024.05.01 09:30";
        QTest::newRow("Swedish dashes")
            << QLocale(QLocale::Swedish, QLocale::Sweden) << T0 << "2024-05-01 09:30";
        QTest::newRow("Finnish time dot")
            << QLocale(QLocale::Finnish, QLocale::Finland) << evening << "2031.12.09 21.05";
        QTest::newRow("US, 12-hour format still 24-hour here")
            << QLocale(QLocale::English, QLocale::UnitedStates) << evening << "2031/12/09 21:05";
        QTest::newRow("year below 1000 keeps four digits")
            << QLocale(QLocale::Japanese, QLocale::Japan)
            << QDateTime(QDate(987, 6, 5), QTime(4, 3)) << "0987/06/05 04:03";
    }
    void dateText() {
        QFETCH(QLocale, locale);
        QFETCH(QDateTime, time);
        QFETCH(QString, text);
        QCOMPARE(DateText(time, TRegionalFormat::FromLocale(locale)), text);
    }

    // ---- the scan

    void scanListsTheWholeTree() {
        QTemporaryDir dir, outside;
#ifdef Q_OS_UNIX
        const TBadNameRemover remover{dir.path()};
#endif
        const QStringList expected = MakeTree(dir.path(), outside.path());
        QVERIFY(!expected.isEmpty());
        QList<TFileEntry> entries;
        QString error;
        QVERIFY(ScanFolder(dir.path(), entries, error));
        QCOMPARE(RelativePaths(dir.path(), entries), expected);
        for (const TFileEntry& e : entries) {
            // Listed by their own name; the folder part only leads to them.
            QCOMPARE(e.Name, QFileInfo(e.Path).fileName());
            QVERIFY(e.Path.startsWith(dir.path() + u'/'));
            QCOMPARE(e.Kind, KindOf(e.Name));
            QCOMPARE(e.KarteNo, KarteNoOf(e.Name));
            QCOMPARE(e.Modified, T0);
            QCOMPARE(e.Size, qint64(1));
            QVERIFY(QFileInfo(e.Path).isFile());
        }
    }

    void scanPathKeepsTheFolderAsGiven_data() {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("plain") << "";
        QTest::newRow("trailing separator") << "/";
        QTest::newRow("dot segment") << "/.";
    }
    void scanPathKeepsTheFolderAsGiven() {
        QFETCH(QString, suffix);
        QTemporaryDir dir;
        QVERIFY(MakeFile(dir.filePath(QStringLiteral("sub/pt1_a.jpg"))));
        const QString folder = dir.path() + suffix;
        QList<TFileEntry> entries;
        QString error;
        QVERIFY(ScanFolder(folder, entries, error));
        QCOMPARE(entries.size(), 1);
        const QString sep = folder.endsWith(u'/') ? QString() : QStringLiteral("/");
        QCOMPARE(entries[0].Path, folder + sep + QStringLiteral("sub/pt1_a.jpg"));
    }

    void portableWalkFindsTheSame() {
        QTemporaryDir dir, outside;
#ifdef Q_OS_UNIX
        const TBadNameRemover remover{dir.path()};
#endif
        QVERIFY(!MakeTree(dir.path(), outside.path()).isEmpty());
        const auto byPath = [](QList<TFileEntry> AEntries) {
            std::sort(AEntries.begin(), AEntries.end(),
                      [](const TFileEntry& A, const TFileEntry& B) { return A.Path < B.Path; });
            QStringList rows;
            for (const TFileEntry& e : AEntries)
                rows << QStringLiteral("%1|%2|%3|%4|%5|%6")
                            .arg(e.Path, e.Name, e.KarteNo, e.Kind,
                                 QString::number(e.Modified.toMSecsSinceEpoch()),
                                 QString::number(e.Size));
            return rows;
        };
        QList<TFileEntry> native, portable;
        QString error;
        QVERIFY(ScanFolder(dir.path(), native, error));
        QVERIFY(ScanFolderPortable(dir.path(), portable, error));
        QCOMPARE(byPath(portable), byPath(native));
        // Local wall-clock time in both.
        for (qsizetype i = 0; i < native.size(); ++i) {
            QCOMPARE(native[i].Modified.date(), T0.date());
            QCOMPARE(native[i].Modified.time(), T0.time());
            QCOMPARE(portable[i].Modified.time(), T0.time());
        }
    }

    void scanSortsNewestFirstThenByName() {
        QTemporaryDir dir;
        const QString f = dir.path();
        // Equal times by name with ASCII letters folded to lower case: "_" (U+005F) sorts
        // before the letters, "." before the digits.
        QVERIFY(MakeFile(f + QStringLiteral("/b.jpg")));
        QVERIFY(MakeFile(f + QStringLiteral("/C.jpg")));
        QVERIFY(MakeFile(f + QStringLiteral("/sub/A.jpg")));
        QVERIFY(MakeFile(f + QStringLiteral("/a1.jpg")));
        QVERIFY(MakeFile(f + QStringLiteral("/_x.jpg")));
        QVERIFY(MakeFile(f + QStringLiteral("/Ä.jpg"))); // not folded: after every ASCII name
        QVERIFY(MakeFile(f + QStringLiteral("/z_newer.jpg"), 1, T0.addMSecs(1)));
        QVERIFY(MakeFile(f + QStringLiteral("/zz_newest.pdf"), 1, T0.addDays(3)));
        // In winter: another offset from UTC than the rest.
        const QDateTime winter = T0.addMonths(-4);
        QVERIFY(MakeFile(f + QStringLiteral("/a_oldest.txt"), 1, winter));
        QList<TFileEntry> entries;
        QString error;
        QVERIFY(ScanFolder(f, entries, error));
        QCOMPARE(Names(entries),
                 (QStringList{"zz_newest.pdf", "z_newer.jpg", "_x.jpg", "A.jpg", "a1.jpg", "b.jpg",
                              "C.jpg", "Ä.jpg", "a_oldest.txt"}));
        // The same instants, as local wall-clock times to the millisecond.
        QCOMPARE(entries[0].Modified, T0.addDays(3));
        QCOMPARE(entries[1].Modified, T0.addMSecs(1));
        QCOMPARE(entries[1].Modified.time(), T0.time().addMSecs(1));
        QCOMPARE(entries[8].Modified, winter);
        QCOMPARE(entries[8].Modified.date(), QDate(2024, 1, 1));
        QCOMPARE(entries[8].Modified.time(), T0.time());
        QCOMPARE(DateText(entries[8].Modified, TRegionalFormat{}),
                 QStringLiteral("2024/01/01 09:30"));
    }

    // A year of files: the newest 5000 are kept, whatever order the walk meets them in,
    // and the scan says how many older ones it left out.
    void scanKeepsTheNewest5000() {
        QTemporaryDir dir;
        for (int i = 0; i < 5100; ++i) {
            // The newest files sit in the last folders the walk is likely to meet.
            const QString path = dir.path() + QStringLiteral("/d%1/pt%2_x.jpg").arg(i / 100).arg(i);
            QVERIFY(MakeFile(path, 1, T0.addSecs(i)));
        }
        for (const bool fast : {true, false}) {
            QList<TFileEntry> entries;
            QString error;
            qsizetype leftOut = -1;
            QVERIFY(fast ? ScanFolder(dir.path(), entries, error, &leftOut)
                         : ScanFolderPortable(dir.path(), entries, error, &leftOut));
            QCOMPARE(entries.size(), 5000);
            QCOMPARE(leftOut, qsizetype(100));
            QCOMPARE(entries.first().Modified, T0.addSecs(5099));
            QCOMPARE(entries.last().Modified, T0.addSecs(100));
        }
        QList<TFileEntry> few;
        QString error;
        qsizetype leftOut = -1;
        QVERIFY(ScanFolder(dir.filePath(QStringLiteral("d7")), few, error, &leftOut));
        QCOMPARE(few.size(), 100);
        QCOMPARE(leftOut, qsizetype(0));
    }

#ifdef Q_OS_LINUX
    void folderThatCannotBeListed() {
        QTemporaryDir dir;
        QVERIFY(MakeFile(dir.filePath(QStringLiteral("pt1_a.jpg"))));
        const QString systemText = QString::fromLocal8Bit(std::strerror(EMFILE));
        QList<TFileEntry> entries{TFileEntry{}};
        QString error;
        bool listed = true;
        {
            const TNoMoreFiles limit;
            listed = ScanFolder(dir.path(), entries, error);
        }
        QVERIFY(!listed);
        QCOMPARE(error, systemText);
        QVERIFY(entries.isEmpty());
    }
#endif
};

QTEST_MAIN(TestHistoryScan)
#include "tst_historyscan.moc"
