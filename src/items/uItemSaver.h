#pragma once
#include <QByteArray>
#include <QString>

// Puts received and produced items into the save folder under names that never replace
// a file already there. Widget-free.
namespace ItemSaver {

struct TSaved {
    QString Path;  // empty when nothing was written
    QString Error; // why, when a write was attempted and failed
};

// A received image, named after the patient number when one is entered and always with
// a picture's extension. Written only when AFolder (trimmed) is not empty.
TSaved SaveImage(const QString& AFolder, const QString& APatientId, const QString& AFilename,
                 const QString& AContentType, const QByteArray& AData);
// A text, as UTF-8 with a byte-order mark, under a name that ends in ".txt"; without a
// save folder into the fall-back Documents folder.
TSaved SaveText(const QString& AFolder, const QString& AName, const QString& AText);
// A received text that could not be read, byte for byte, where SaveText would put it.
TSaved SaveTextBytes(const QString& AFolder, const QString& AName, const QByteArray& ABytes);

} // namespace ItemSaver
