#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// An INI file held in memory, in the form the settings file is kept: sections and
// keys compared without case (A to Z only), unknown sections and keys kept in their
// order, comments and lines outside a section dropped. Written as UTF-8 with a
// byte-order mark and CR LF line ends.
class TIniFile {
public:
    // UTF-8 with or without a byte-order mark, or UTF-16 in either byte order with one
    // (as Notepad saves it). Bytes that are none of these are read as far as they go.
    static TIniFile Parse(const QByteArray& ABytes);
    // True when the bytes are text in one of those forms (a stray undecodable line
    // aside); a file that is not must never be written over as if it had been read.
    static bool IsReadable(const QByteArray& ABytes);
    QByteArray Serialize() const;

    bool HasKey(const QString& ASection, const QString& AKey) const;
    QString ReadString(const QString& ASection, const QString& AKey,
                       const QString& ADefault = QString()) const;
    // Integer booleans: any non-zero decimal or "0x" hexadecimal number is true;
    // a missing or non-numeric value gives the default.
    bool ReadBool(const QString& ASection, const QString& AKey, bool ADefault) const;

    void WriteString(const QString& ASection, const QString& AKey, const QString& AValue);
    void WriteBool(const QString& ASection, const QString& AKey, bool AValue);
    void DeleteKey(const QString& ASection, const QString& AKey);
    void EraseSection(const QString& ASection);

    QStringList SectionNames() const;

private:
    struct TEntry {
        QString Key;
        QString Value;
    };
    struct TSection {
        QString Name;
        QList<TEntry> Entries;
    };

    const TSection* FindSection(const QString& AName) const;
    TSection& SectionFor(const QString& AName);

    QList<TSection> FSections;
};

// Reads a whole number the way the settings file stores it: optional sign, decimal
// digits, or "0x" followed by hexadecimal digits. False when it is not such a number.
bool ParseIniInteger(const QString& AText, qint64& AValue);
