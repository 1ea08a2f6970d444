#include "ui/uHistoryUI.h"

bool ShowHistory(QWidget*, const QString&, QString& ASelected) {
    ASelected.clear();
    return false;
}
