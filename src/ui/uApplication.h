#pragma once
#include <QIcon>

// Process-wide application properties: title, version and icon.
void SetUpApplication();
QIcon AppIcon();
