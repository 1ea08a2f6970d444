// Pictoport with a scripted user, for the demo: the real window, which receives as the
// program does; once the lab report photo is shown it types the patient number and presses
// the lab extraction button; when the lab results window opens it saves pictures of both
// windows and prints the saved lab table, then presses 検査値の推移 and saves a picture of
// the patient's values over time with HbA1c chosen.
//   pictoport-demo [--shots DIR] [--quit]
// --quit closes everything once the table is printed (the demo without a display).
#include "platform/uSingleInstance.h"
#include "ui/fmMain.h"
#include "ui/uApplication.h"
#include "ui/uElidedLabel.h"
#include "ui/uExtractUI.h"
#include "ui/uRecognitionActions.h"
#include "ui/uToolPanel.h"
#include "ui/uTrendChart.h"
#include "ui/uTrendUI.h"
#include "worker/uPollThread.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <cstdio>

namespace {

void Print(const QString& AText) {
    std::fputs(AText.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    TSingleInstance instance;
    if (instance.Claim() == TSingleInstance::TRole::Second)
        return 0;
    QApplication app(argc, argv);
    SetUpApplication();
    instance.Listen();
    const QStringList args = app.arguments();
    const qsizetype shotsAt = args.indexOf(QStringLiteral("--shots"));
    const QString shots = shotsAt > 0 && shotsAt + 1 < args.size() ? args[shotsAt + 1] : QString();
    const bool quit = args.contains(QStringLiteral("--quit"));

    int rc = 0;
    {
        TFormMain window;
        QObject::connect(&instance, &TSingleInstance::ShowMeRequested, &window, &TFormMain::ShowMe);
        window.show();

        enum { WaitingForReport, Extracting, Trend, Done } step = WaitingForReport;
        TLabResultsForm* shownResults = nullptr;
        QTimer poll;
        poll.setInterval(200);
        QObject::connect(&poll, &QTimer::timeout, &window, [&] {
            if (step == WaitingForReport) {
                const auto& items = window.Items();
                if (items.isEmpty() || items[0].IsText || !window.pnlTool->btnExtract->isEnabled())
                    return;
                // The demo's patient, whose earlier lab tables demo.sh put in the save folder.
                window.pnlTool->edtPatientId->setText(QStringLiteral("12345"));
                Print(QStringLiteral("Pressing 🧪 検査項目抽出 on %1 for patient 12345\n")
                          .arg(items[0].Filename));
                step = Extracting;
                // Clicked from the event loop, so this timer keeps running while the
                // results window runs its own.
                QTimer::singleShot(0, window.pnlTool->btnExtract, &QPushButton::click);
                return;
            }
            if (step == Trend) {
                auto* trend = qobject_cast<TLabTrendForm*>(QApplication::activeModalWidget());
                if (trend == nullptr || trend->IsLoading())
                    return;
                step = Done;
                // HbA1c, the value a doctor follows from visit to visit.
                const QAbstractItemModel* model = trend->FTable->model();
                for (int row = 0; row < model->rowCount(); ++row) {
                    if (model->index(row, 0).data().toString() == QStringLiteral("HbA1c"))
                        trend->FTable->selectionModel()->setCurrentIndex(
                            model->index(row, 0),
                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                }
                QApplication::processEvents();
                if (!shots.isEmpty()) {
                    trend->grab().save(shots + QStringLiteral("/lab-trend.png"));
                    Print(QStringLiteral("Screenshot: %1/lab-trend.png (%2 reports, %3)\n")
                              .arg(shots)
                              .arg(trend->Trend().Reports.size())
                              .arg(trend->FChart->PlottedTests().join(QStringLiteral(", "))));
                }
                if (quit) {
                    trend->close();
                    shownResults->close();
                    QTimer::singleShot(0, &window, &QWidget::close);
                }
                return;
            }
            if (step != Extracting)
                return;
            auto* results = qobject_cast<TLabResultsForm*>(QApplication::activeModalWidget());
            if (results == nullptr) {
                // Ended without a table: a failure or nothing found; the status says which.
                const QString status = window.Connection()->lblStatus->text();
                if (!window.Recognition()->IsBusy() && !status.endsWith(QStringLiteral("...")) &&
                    !status.startsWith(QStringLiteral("クリップボードにコピー済"))) {
                    Print(QStringLiteral("Extraction failed: %1\n")
                              .arg(window.Connection()->lblStatus->text()));
                    rc = 1;
                    step = Done;
                    if (quit)
                        window.close();
                }
                return;
            }
            step = Done;
            if (!shots.isEmpty()) {
                QDir().mkpath(shots);
                window.grab().save(shots + QStringLiteral("/main-window.png"));
                results->grab().save(shots + QStringLiteral("/lab-results.png"));
                Print(QStringLiteral("Screenshots: %1/main-window.png, %1/lab-results.png\n")
                          .arg(shots));
            }
            const TReceivedImage& table = window.Items()[0];
            Print(QStringLiteral("Lab table saved as %1:\n").arg(table.SavedPath));
            QFile f(table.SavedPath);
            if (f.open(QIODevice::ReadOnly))
                Print(QString::fromUtf8(f.readAll())
                          .remove(QChar(0xFEFF))
                          .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
            // On to the patient's values over time, opened from the results window.
            step = Trend;
            shownResults = results;
            QTimer::singleShot(0, results->btnTrend, &QPushButton::click);
        });
        poll.start();
        app.exec();
        if (step != Done) {
            Print(QStringLiteral("The demo ended before the lab results were shown.\n"));
            rc = 1;
        }
    }
    TPollThread::ShutdownAll(3000);
    return rc;
}
