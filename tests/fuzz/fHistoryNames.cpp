// libFuzzer target for the history's name rules: any bytes, as the name of a file found
// in the save folder (which anyone may have put there).
#include "files/uHistoryScan.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(AData), qsizetype(ASize));

    const QString kind = HistoryScan::KindOf(name);
    static const QStringList kinds = {QString(),
                                      QStringLiteral("検査"),
                                      QStringLiteral("処方"),
                                      QStringLiteral("テキスト"),
                                      QStringLiteral("画像"),
                                      QStringLiteral("PDF")};
    if (!kinds.contains(kind))
        __builtin_trap();

    // A patient number is ASCII digits taken from the name itself.
    const QString karteNo = HistoryScan::KarteNoOf(name);
    for (const QChar c : karteNo)
        if (c < u'0' || c > u'9')
            __builtin_trap();
    if (!karteNo.isEmpty() && !name.contains(karteNo))
        __builtin_trap();

    // Searching for a file's own name finds it.
    TFileEntry entry;
    entry.Name = name;
    entry.KarteNo = karteNo;
    entry.Kind = kind;
    const QString query = HistoryScan::QueryOf(name);
    if (HistoryScan::Filter({entry}, query).size() != 1)
        __builtin_trap();
    if (!karteNo.isEmpty() &&
        HistoryScan::Filter({entry}, HistoryScan::QueryOf(karteNo)).size() != 1)
        __builtin_trap();
    return 0;
}
