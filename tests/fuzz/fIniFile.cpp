// libFuzzer target for the settings file reader: any bytes, as a settings file that
// someone else wrote.
#include "settings/uIniFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(AData), qsizetype(ASize));
    const bool readable = TIniFile::IsReadable(bytes);
    TIniFile ini = TIniFile::Parse(bytes);
    const QByteArray saved = ini.Serialize();

    // A file that reads as text is saved so that it reads back as itself: a save loses or
    // changes nothing it has read. (Other files are never written over.)
    if (readable) {
        const TIniFile reread = TIniFile::Parse(saved);
        if (!TIniFile::IsReadable(saved) || reread.Serialize() != saved)
            __builtin_trap();
        // Names as written: a lone UTF-16 surrogate is saved as "?".
        const QStringList names = ini.SectionNames();
        const QStringList rereadNames = reread.SectionNames();
        if (rereadNames.size() != names.size())
            __builtin_trap();
        for (qsizetype i = 0; i < names.size(); ++i)
            if (rereadNames[i].toUtf8() != names[i].toUtf8())
                __builtin_trap();
    }

    for (const QString& section : ini.SectionNames()) {
        qint64 number = 0;
        const QString value = ini.ReadString(section, QStringLiteral("AutoConnect"));
        ParseIniInteger(value, number);
        ini.ReadBool(section, QStringLiteral("AutoConnect"), false);
        // A written value reads back unchanged, whatever the section's name.
        ini.WriteString(section, QStringLiteral("Key"), QStringLiteral("a=b ; c"));
        if (ini.ReadString(section, QStringLiteral("KEY")) != QStringLiteral("a=b ; c"))
            __builtin_trap();
        ini.DeleteKey(section, QStringLiteral("key"));
        if (ini.HasKey(section, QStringLiteral("Key")))
            __builtin_trap();
    }
    qint64 number = 0;
    ParseIniInteger(QString::fromUtf8(bytes), number);
    return 0;
}
