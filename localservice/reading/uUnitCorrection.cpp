#include "reading/uUnitCorrection.h"

#include <QStringList>

namespace {

// Units with a slash between two parts, the ones recognition drops it from ("/μL" is left out:
// without its slash it is a unit of its own).
const QStringList& KnownUnits() {
    static const QStringList kUnits = {
        QStringLiteral("mL/min/1.73m2"), QStringLiteral("μIU/mL"), QStringLiteral("10^4/μL"),
        QStringLiteral("10^3/μL"),       QStringLiteral("μmol/L"), QStringLiteral("mmol/L"),
        QStringLiteral("mEq/L"),         QStringLiteral("μg/dL"),  QStringLiteral("万/μL"),
        QStringLiteral("mg/dL"),         QStringLiteral("ng/mL"),  QStringLiteral("pg/mL"),
        QStringLiteral("ng/dL"),         QStringLiteral("mg/L"),   QStringLiteral("g/dL"),
        QStringLiteral("U/mL"),          QStringLiteral("IU/L"),   QStringLiteral("U/L"),
    };
    return kUnits;
}

bool EndsWord(QStringView ALine, qsizetype APos) {
    return APos >= ALine.size() || ALine[APos].isSpace() || ALine[APos] == u')' ||
           ALine[APos] == u',' || ALine[APos] == u'(';
}

// The length of the text at APos that is AUnit with each slash read as it is, as one blank or
// not at all; 0 when it is not.
qsizetype MatchedLength(QStringView ALine, qsizetype APos, QStringView AUnit) {
    qsizetype At = APos;
    for (const QChar C : AUnit) {
        if (C == u'/') {
            if (At < ALine.size() && (ALine[At] == u'/' || ALine[At] == u' ')) {
                ++At;
            }
            continue;
        }
        if (At >= ALine.size() || ALine[At] != C) {
            return 0;
        }
        ++At;
    }
    return EndsWord(ALine, At) ? At - APos : 0;
}

} // namespace

QString CorrectUnits(const QString& AText) {
    QStringList Lines = AText.split(u'\n');
    for (QString& Line : Lines) {
        QString Out;
        bool NumberSeen = false;
        qsizetype i = 0;
        while (i < Line.size()) {
            const bool StartsWord = i == 0 || Line[i - 1].isSpace();
            if (NumberSeen && StartsWord) {
                bool Corrected = false;
                for (const QString& Unit : KnownUnits()) {
                    if (const qsizetype Length = MatchedLength(Line, i, Unit); Length > 0) {
                        Out += Unit;
                        i += Length;
                        Corrected = true;
                        break;
                    }
                }
                if (Corrected) {
                    continue;
                }
            }
            NumberSeen = NumberSeen || Line[i].isDigit();
            Out += Line[i++];
        }
        Line = Out;
    }
    return Lines.join(u'\n');
}
