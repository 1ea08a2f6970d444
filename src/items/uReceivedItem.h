#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

// One entry of the main window's list, newest first. Row i of the list shows entry i.
struct TReceivedImage {
    QString Filename;
    QString ContentType;
    // The picture's bytes while they exist only here. Once they are saved they live in
    // the file at SavedPath and this is empty (DataOnDisk), so that a day of photos does
    // not pile up in memory; ItemBytes reads them back.
    QByteArray Data;
    bool DataOnDisk = false;
    QDateTime ReceivedAt;
    QString SavedPath;
    bool IsText = false;
    QString Text; // CR LF line breaks
};
