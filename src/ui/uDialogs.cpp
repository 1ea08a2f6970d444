#include "ui/uDialogs.h"

#include <QDialog>

namespace Dialogs {
namespace {
TRunner& Runner() {
    static TRunner runner;
    return runner;
}
} // namespace

int RunModal(QDialog& ADialog) {
    if (Runner())
        return Runner()(ADialog);
    return ADialog.exec();
}

void SetRunner(TRunner ARunner) {
    Runner() = std::move(ARunner);
}

} // namespace Dialogs
