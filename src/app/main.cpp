#include "app/uCommandLine.h"
#include "platform/uEndRequests.h"
#include "platform/uSingleInstance.h"
#include "ui/fmMain.h"
#include "ui/uApplication.h"
#include "worker/uPollThread.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (const auto exitCode = AnswerCommandLine(argc, argv))
        return *exitCode;
    // Before anything else: a second start only asks the first to come forward.
    TSingleInstance instance;
    if (instance.Claim() == TSingleInstance::TRole::Second)
        return 0;

    QApplication app(argc, argv);
    SetUpApplication();
    // Logging out ends the program as 終了 does: settings saved, receiving stopped. Watched
    // from before a later start can find this one, so no request falls in between.
    TEndRequests endRequests;
    instance.Listen();

    int rc = 0;
    {
        TFormMain window;
        QObject::connect(&instance, &TSingleInstance::ShowMeRequested, &window, &TFormMain::ShowMe);
        QObject::connect(&endRequests, &TEndRequests::EndRequested, &window, &QWidget::close);
        window.show();
        rc = app.exec();
        // The window has closed: a start from now on must not wait for this one to end.
        instance.Release();
    }
    // A worker still in a long poll is told to stop; give it a moment to say goodbye to
    // the service, then end regardless.
    if (!TPollThread::ShutdownAll(1000))
        std::_Exit(rc);
    return rc;
}
