#pragma once
#include <QString>

// Puts a text on the clipboard; false when the clipboard is missing or did not keep it.
// Line breaks may change form on the way (CR LF on Windows), so they are not compared.
bool CopyToClipboard(const QString& AText);
