#include "ui/uItemManagerUI.h"

void ShowItemManager(QWidget*, TApiClient&) {}
