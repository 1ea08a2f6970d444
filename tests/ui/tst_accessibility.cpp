// Every interactive control of every window has a name that a screen reader speaks: the
// walk below goes through each window's controls, built as the program builds them, and
// names the ones without.
#include "service/uApiClient.h"
#include "ui/fmMain.h"
#include "ui/uDialogs.h"
#include "ui/uExtractUI.h"
#include "ui/uHistoryUI.h"
#include "ui/uItemManagerUI.h"
#include "ui/uMessages.h"
#include "ui/uTrendUI.h"

#include "uLabRows.h"
#include "uLabTableFiles.h"
#include "uLocalService.h"
#include "uTestEnv.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QGraphicsView>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <memory>

namespace {

// A part of a composite control speaks through it: a combo box's list, a spin box's text,
// a table's headers and corner button, a scroll area's viewport.
bool InsideComposite(const QWidget* AWidget, const QWidget* AWindow) {
    if (const auto* area = qobject_cast<const QAbstractScrollArea*>(AWidget->parentWidget());
        area != nullptr && area->viewport() == AWidget)
        return true;
    for (const QWidget* w = AWidget->parentWidget(); w != nullptr && w != AWindow;
         w = w->parentWidget()) {
        if (qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
            qobject_cast<const QAbstractItemView*>(w))
            return true;
    }
    return false;
}

// What a user can act on: buttons, text boxes, lists and tables, choosers, and whatever
// else the Tab key stops at (a label's selectable text speaks its text).
bool IsInteractive(const QWidget* AWidget) {
    if (qobject_cast<const QHeaderView*>(AWidget) || qobject_cast<const QScrollBar*>(AWidget) ||
        qobject_cast<const QLabel*>(AWidget))
        return false;
    return qobject_cast<const QAbstractButton*>(AWidget) ||
           qobject_cast<const QLineEdit*>(AWidget) ||
           qobject_cast<const QAbstractItemView*>(AWidget) ||
           qobject_cast<const QComboBox*>(AWidget) ||
           qobject_cast<const QAbstractSpinBox*>(AWidget) ||
           qobject_cast<const QTextEdit*>(AWidget) ||
           qobject_cast<const QPlainTextEdit*>(AWidget) || qobject_cast<const QTabBar*>(AWidget) ||
           qobject_cast<const QGraphicsView*>(AWidget) ||
           (AWidget->focusPolicy() & Qt::TabFocus) != 0;
}

QString Describe(const QWidget* AWidget) {
    return QString::fromLatin1(AWidget->metaObject()->className()) + u' ' +
           (AWidget->objectName().isEmpty() ? QStringLiteral("(no object name)")
                                            : AWidget->objectName()) +
           QStringLiteral(" at ") + QString::number(AWidget->x()) + u',' +
           QString::number(AWidget->y()) + QStringLiteral(" in ") +
           QString::fromLatin1(AWidget->parentWidget()->metaObject()->className());
}

// The controls of AWindow without a spoken name; ACount gets how many were looked at.
QStringList Unnamed(QWidget* AWindow, int& ACount) {
    QStringList unnamed;
    for (QWidget* w : AWindow->findChildren<QWidget*>()) {
        if (!IsInteractive(w) || InsideComposite(w, AWindow))
            continue;
        ++ACount;
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
        const QString name = face != nullptr ? face->text(QAccessible::Name).trimmed() : QString();
        if (name.isEmpty())
            unnamed << Describe(w);
    }
    return unnamed;
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
    TLocalService FService;
    std::unique_ptr<TTestEnv> FEnv;

    void Check(QWidget& AWindow) {
        AWindow.show();
        QApplication::processEvents();
        int count = 0;
        const QStringList unnamed = Unnamed(&AWindow, count);
        QVERIFY2(count > 0, "no interactive control found");
        QVERIFY2(unnamed.isEmpty(), qPrintable(QStringLiteral("without a spoken name:\n  ") +
                                               unnamed.join(QStringLiteral("\n  "))));
    }

private Q_SLOTS:
    void initTestCase() {
        FEnv = std::make_unique<TTestEnv>();
        Messages::SetHandler([](QWidget*, const QString&) {});
        Dialogs::SetRunner([](QDialog&) { return int(QDialog::Rejected); });
    }

    void mainWindow() {
        TFormMain form;
        Check(form);
    }

    void historyWindow() {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.path(), QStringLiteral("12345_検査_20240501_090000.txt"),
                           LabTableBytes(QStringLiteral("2024-05-01"), {}, ExampleValues())));
        THistoryForm form(nullptr, dir.path());
        Check(form);
    }

    void labResultsWindow() {
        TLabResultsForm form(nullptr, ExampleValues(), QStringLiteral("2024-05-01"), QString(),
                             {QStringLiteral("LDL")}, {},
                             TLabTrendRequest{{}, QStringLiteral("1"), {}});
        Check(form);
    }

    void itemManagerWindow() {
        QVERIFY(FService.Start());
        TApiClient api(FService.BaseUrl());
        QString error;
        QVERIFY2(api.Login(QStringLiteral("demo@example.com"), QStringLiteral("secret"), error),
                 qPrintable(error));
        TItemManagerForm form(
            nullptr, api,
            {FService.BaseUrl(), QStringLiteral("demo@example.com"), QStringLiteral("secret")});
        Check(form);
    }

    // With a table, a chart and a skipped file, so that every part of it is there.
    void trendWindow() {
        QTemporaryDir dir;
        QVERIFY(WriteBytes(dir.path(), QStringLiteral("12345_検査_20240501_090000.txt"),
                           LabTableBytes(QStringLiteral("2024-05-01"), {}, ExampleValues())));
        QVERIFY(WriteBytes(dir.path(), QStringLiteral("12345_検査_20240601_090000.txt"),
                           QByteArray("broken")));
        TLabTrendForm form(nullptr, TLabTrendRequest{dir.path(), QStringLiteral("12345"), {}});
        QSignalSpy loaded(&form, &TLabTrendForm::Loaded);
        QVERIFY(loaded.wait(10000));
        Check(form);
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
