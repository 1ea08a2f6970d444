#pragma once
#include "items/uReceivedItem.h"

#include <QString>

// Files that come back into the list from disk: a file of the history, or one dropped
// or pasted by the user. Widget-free.
namespace PastFile {

// Files larger than this are refused rather than read whole into memory.
constexpr qint64 MaxBytes = qint64(256) * 1024 * 1024;

// ".pdf" in any case: opened in its default application, never listed.
bool IsPdf(const QString& APath);

// A text file's bytes as text: by its byte-order mark (UTF-8, UTF-16), else UTF-8 when
// they are valid UTF-8, else Shift_JIS when they are valid Shift_JIS, else UTF-8 with
// replacement characters.
QString DecodeText(const QByteArray& ABytes);

// An entry for the file at APath: for ".txt" a text (DecodeText, line breaks as CR LF)
// that keeps the file's own bytes in Data, else the bytes as an image. Filename is the name part,
// ReceivedAt the file's last-write time, SavedPath APath. False with a message when the
// file is missing, unreadable or too large.
bool Read(const QString& APath, TReceivedImage& AItem, QString& AError);

} // namespace PastFile

// The bytes of a picture entry, from memory or from its saved file. False with the
// reason when the file has gone or cannot be read.
bool ItemBytes(const TReceivedImage& AItem, QByteArray& ABytes, QString& AError);
