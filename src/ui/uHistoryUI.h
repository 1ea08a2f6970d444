#pragma once
#include <QString>

class QWidget;

// The saved-file history window. True when the user chose a file; its full path is then
// in ASelected.
bool ShowHistory(QWidget* AOwner, const QString& AFolder, QString& ASelected);
