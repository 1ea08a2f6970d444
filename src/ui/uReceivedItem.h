#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

// One entry of the main window's list, newest first. Row i of the list shows entry i.
struct TReceivedImage {
    QString Filename;
    QString ContentType;
    QByteArray Data;
    QDateTime ReceivedAt;
    QString SavedPath;
    bool IsText = false;
    QString Text; // CR LF line breaks
};
