#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

// Names and writes of the files Pictoport keeps in the save folder. Widget-free.
namespace SavedFiles {

// The part after the last "\", "/" or ":".
QString FileNamePart(const QString& AName);

// A received name is untrusted. The rule: keep only the part after the last "\", "/"
// or ":"; turn control characters and the characters Windows forbids in names
// (< > " | ? *), and Unicode format characters such as U+202E, into "_"; drop trailing dots and
// blanks (Windows would) and leading and trailing blanks; put "_" before a name Windows reserves
// for a device (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without an extension); shorten
// the stem so the name fits in 240 bytes of UTF-8, keeping the extension. What is then empty,
// "." or ".." becomes "image.jpg". The result always names a file directly inside the
// folder it is joined to.
QString SafeFileName(const QString& AName);

// "pt" + the ASCII digits of the patient box + "_" + the file-name part, or the name
// unchanged when the box holds no ASCII digit.
QString PatientFileName(const QString& APatientId, const QString& AFilename);

// The name of a recognition or extraction result: the patient number (trimmed; "OCR"
// when empty) + AKind ("", "_処方" or "_検査") + "_" + yyyymmdd_hhnnss of ANow + ".txt".
// Path separators and ":" in the patient number become "_", so a number such as
// "12/34" stays whole instead of being cut to its last part.
QString ResultFileName(const QString& APatientCode, const QString& AKind, const QDateTime& ANow);

// The name a received picture is saved under: the sender's name part without leading
// dots, with the picture's own extension (from its bytes, else its media type; ".bin"
// when neither tells) appended unless it already ends in a picture or PDF extension, so
// that nothing received runs by a double-click ("invoice.exe" -> "invoice.exe.jpg").
QString ReceivedImageName(const QString& AName, const QByteArray& ABytes,
                          const QString& AContentType);

// A path in AFolder that no directory entry occupies, not even a dangling link: the
// name itself, else "%s_(%d)%s".
QString UniqueFilePath(const QString& AFolder, const QString& AName);

// A save folder as an absolute path: a relative one is taken from the home folder, not
// from whatever the working directory happens to be (at sign-in: anywhere). Empty stays
// empty.
QString AbsoluteFolder(const QString& AFolder);

// Line breaks (CR LF, LF, CR) as CR LF.
QString NormaliseLineBreaks(const QString& AText);

// Writes the whole file or nothing: a temporary file in the same folder, then a
// rename. On failure returns false with the reason, and no file is left behind.
bool WriteFileAtomically(const QString& APath, const QByteArray& ABytes, QString& AError);

// UTF-8 with a byte-order mark, the form text files are saved in.
QByteArray TextFileBytes(const QString& AText);

} // namespace SavedFiles
