#pragma once
#include <QByteArray>
#include <QString>

// A received text in the charset its media type declares ("text/plain; charset=..."),
// as UTF-8: UTF-8 when none is declared. Bytes that are not valid in the declared
// charset, or a charset this program does not know, come back unchanged, so that nothing
// is lost to a lossy conversion; the caller then finds them not to be UTF-8 and keeps
// them as they are.
// A body larger than MaxConvertedTextBytes comes back unchanged too: converting it would
// take several times its size, and the window keeps such a text as received anyway.
QByteArray TextAsUtf8(const QString& AContentType, const QByteArray& ABody);

// Texts larger than this are kept byte for byte, saved and listed without being shown.
inline constexpr qsizetype MaxConvertedTextBytes = qsizetype(4) * 1024 * 1024;

// The charset parameter of a media type, lower-cased; empty when there is none.
QString CharsetOf(const QString& AContentType);
