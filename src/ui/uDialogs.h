#pragma once
#include <functional>

class QDialog;

// Every modal dialog window runs through here, so tests can look at it and close it
// instead of blocking in its event loop.
namespace Dialogs {

using TRunner = std::function<int(QDialog& ADialog)>;

// Runs ADialog modally (QDialog::exec) and returns its result.
int RunModal(QDialog& ADialog);
// Replaces the modal run (tests); an empty runner restores it.
void SetRunner(TRunner ARunner);

} // namespace Dialogs
