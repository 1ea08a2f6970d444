#include "extraction/uPlausibility.h"

#include <QHash>
#include <QRegularExpression>

#include <cmath>
#include <vector>

namespace {

// What a test can measure in a living patient, generously, in the units Japanese reports print.
// Only a value outside these is doubted; inside them the printed number stands.
struct TLimits {
    const char* Test;
    const char* Units;  // comma-separated, folded as FoldUnit does
    bool UnitByDefault; // whether an unread unit is this one (Japanese reports almost always)
    double Low, High;
};

constexpr TLimits kLimits[] = {
    {"AST", "u/l,iu/l", true, 0, 30000},
    {"ALT", "u/l,iu/l", true, 0, 30000},
    {"γ-GTP", "u/l,iu/l", true, 0, 10000},
    {"ALP", "u/l,iu/l", true, 0, 20000},
    {"LD", "u/l,iu/l", true, 0, 50000},
    {"CK", "u/l,iu/l", true, 0, 500000},
    {"アミラーゼ", "u/l,iu/l", true, 0, 20000},
    {"コリンエステラーゼ", "u/l,iu/l", true, 0, 2000},
    {"総ビリルビン", "mg/dl", true, 0, 60},
    {"直接ビリルビン", "mg/dl", true, 0, 50},
    {"総蛋白", "g/dl", true, 1.5, 15},
    {"アルブミン", "g/dl", true, 0.5, 7},
    {"尿素窒素", "mg/dl", true, 0.5, 300},
    {"Cr", "mg/dl", true, 0.05, 30},
    {"eGFR", "ml/min/1.73m2,ml/分/1.73m2", true, 0.5, 300},
    {"尿酸", "mg/dl", true, 0.2, 30},
    {"ナトリウム", "meq/l,mmol/l", true, 80, 220},
    {"カリウム", "meq/l,mmol/l", true, 1, 15},
    {"クロール", "meq/l,mmol/l", true, 50, 180},
    {"カルシウム", "mg/dl", true, 2, 25},
    {"総コレステロール", "mg/dl", true, 20, 2000},
    {"LDL-C", "mg/dl", true, 2, 1500},
    {"HDL-C", "mg/dl", true, 2, 300},
    {"TG", "mg/dl", true, 5, 20000},
    {"BS", "mg/dl", true, 5, 3000},
    {"HbA1c", "%", true, 2, 25},
    {"CRP", "mg/dl", true, 0, 80},
    {"白血球数", "/μl", false, 100, 1000000},
    {"白血球数", "103/μl,千/μl", false, 0.1, 1000},
    {"白血球数", "102/μl,百/μl", false, 1, 10000},
    {"赤血球数", "万/μl,104/μl", false, 50, 1000},
    {"赤血球数", "106/μl", false, 0.5, 10},
    {"ヘモグロビン", "g/dl", true, 2, 25},
    {"ヘマトクリット", "%", true, 5, 75},
    {"血小板数", "万/μl,104/μl", false, 0.1, 300},
    {"血小板数", "103/μl,千/μl", false, 1, 3000},
    {"MCV", "fl", true, 40, 160},
    {"MCH", "pg", true, 10, 60},
    {"MCHC", "%,g/dl", true, 20, 45},
};

// "mg/dL", "mg/dl." and "ｍｇ／ｄＬ" alike; "10^3/μL", "×10³/uL" and "x103/µL" alike.
QString FoldUnit(const QString& AUnit) {
    static const QRegularExpression Marks(QStringLiteral(R"([\s×x*^]|[.,;:]+$)"));
    QString Unit = AUnit.normalized(QString::NormalizationForm_KC).toLower();
    Unit.replace(QChar(0x00B5), QChar(0x03BC)); // micro sign to mu
    Unit.replace(QStringLiteral("/ul"), QStringLiteral("/μl"));
    return Unit.remove(Marks);
}

// A test the table knows, and whether AUnit is one it is printed in: the limits for that unit;
// the test's usual unit when none was read; none when the test is not in the table.
struct TUnitLimits {
    bool KnownTest = false;
    const TLimits* Limits = nullptr; // null with a known test: a unit it is never printed in
};

TUnitLimits LimitsFor(const TExtractItem& AItem, const QString& AUnit) {
    static const QHash<QString, QString> kTestOf = [] {
        QHash<QString, QString> Map;
        for (const TExtractItem& Item : CatalogItems()) {
            const QString Name = QString::fromStdString(Item.Name);
            Map.insert(Name, Name);
            for (const std::string& Alias : Item.Aliases) {
                Map.insert(QString::fromStdString(Alias), Name);
            }
        }
        return Map;
    }();
    // By the item's name, else by a catalogue name among its aliases: an account's
    // "クレアチニン" is Cr.
    QString Test = kTestOf.value(QString::fromStdString(AItem.Name));
    for (size_t i = 0; Test.isEmpty() && i < AItem.Aliases.size(); ++i) {
        Test = kTestOf.value(QString::fromStdString(AItem.Aliases[i]));
    }
    TUnitLimits Found;
    const QString Unit = FoldUnit(AUnit);
    for (const TLimits& Limits : kLimits) {
        if (Test != QString::fromUtf8(Limits.Test)) {
            continue;
        }
        Found.KnownTest = true;
        const bool Matches = Unit.isEmpty()
                                 ? Limits.UnitByDefault
                                 : QString::fromUtf8(Limits.Units).split(u',').contains(Unit);
        if (Matches) {
            Found.Limits = &Limits;
            break;
        }
    }
    // Nothing to judge by when no unit was read and the test has several.
    Found.KnownTest = Found.KnownTest && !(Unit.isEmpty() && Found.Limits == nullptr);
    return Found;
}

struct TBounds {
    double Low = 0, High = 0; // 0: not printed
    bool HasSeparators = false;
};

// "0.46-0.79", "≦60", "0.14以下", "<0.3", "3,300-8,600".
TBounds BoundsOf(const QString& AReference) {
    static const QRegularExpression Number(QStringLiteral(R"(\d[\d,]*(?:\.\d+)?)"));
    TBounds B;
    B.HasSeparators = AReference.contains(u',');
    std::vector<double> Numbers;
    for (auto It = Number.globalMatch(AReference); It.hasNext();) {
        Numbers.push_back(It.next().captured().remove(u',').toDouble());
    }
    if (Numbers.size() == 2) {
        B.Low = Numbers[0];
        B.High = Numbers[1];
    } else if (Numbers.size() == 1) {
        static const QRegularExpression LowerLimit(QStringLiteral("[>≧≥]|以上"));
        const bool Lower = AReference.contains(LowerLimit);
        (Lower ? B.Low : B.High) = Numbers[0];
    }
    return B;
}

// Orders of magnitude from what the report itself prints as normal: a CRP of 40 beside 0.14
// happens, one of 400 does not; a value three hundred times below its range's lower end is a
// separator or a digit read wrongly.
bool AgreesWithRange(double AValue, const TBounds& ABounds) {
    if (ABounds.High > 0 && AValue > 1000 * ABounds.High) {
        return false;
    }
    return !(ABounds.Low > 0 && AValue * 300 < ABounds.Low);
}

// Within three times of the printed range on either side; nothing printed bears out nothing.
bool NearRange(double AValue, const TBounds& ABounds) {
    if (ABounds.Low <= 0 && ABounds.High <= 0) {
        return false;
    }
    return !(ABounds.High > 0 && AValue > 3 * ABounds.High) &&
           !(ABounds.Low > 0 && AValue * 3 < ABounds.Low);
}

bool Inside(const TLimits* ALimits, double AValue) {
    return ALimits == nullptr || (AValue >= ALimits->Low && AValue <= ALimits->High);
}

} // namespace

TValueVerdict CheckValue(const TExtractItem& AItem, const QString& AValue, const QString& AUnit,
                         const QString& AReference, int ALayoutDecimals, const QString& AFlag) {
    static const QRegularExpression Numeric(
        QStringLiteral(R"(^(?:<=|>=|[<>≦≧≤≥])?([+-]?)(\d[\d,]*(?:\.\d+)?)$)"));
    static const QRegularExpression PointForSeparator(QStringLiteral(R"(^\d{1,3}\.\d{3}$)"));
    static const QRegularExpression Whole(QStringLiteral(R"(^\d+$)"));
    const auto M = Numeric.match(AValue);
    if (!M.hasMatch()) {
        return {}; // a qualitative result, "(-)" or "陰性"
    }
    const QString Digits = M.captured(2);
    const double Value = QString(Digits).remove(u',').toDouble();
    const TBounds Bounds = BoundsOf(AReference);
    const TUnitLimits UnitLimits = LimitsFor(AItem, AUnit);
    // A unit the test is never printed in is a misread one ("4 maxt" for "45 mg/dL") or a
    // foreign one: the digits beside it stand only where the printed range bears them out.
    if (UnitLimits.KnownTest && UnitLimits.Limits == nullptr) {
        return NearRange(Value, Bounds) ? TValueVerdict{}
                                        : TValueVerdict{TValueVerdict::TKind::Unsure, {}};
    }
    const TLimits* Limits = UnitLimits.Limits;

    // "4.200" beside "3,300-8,600" is 4,200 with its comma read as a point. Unsure wherever
    // the thousands could be meant: the range prints them, or the test can measure them.
    if (PointForSeparator.match(Digits).hasMatch() &&
        (Bounds.HasSeparators || Bounds.High >= 1000 ||
         (Limits && (Value < Limits->Low || Inside(Limits, Value * 1000))))) {
        return {TValueVerdict::TKind::Unsure, {}};
    }
    const bool Exact = AValue.size() == Digits.size() + M.captured(1).size();
    // An arrow printed after a high value ("45↑") reads as a last 1 or 7 ("451"). Where no flag
    // was read and the value without that digit is high as well, either may have been printed.
    if (Exact && AFlag.isEmpty() && Bounds.High > 0 && Whole.match(Digits).hasMatch() &&
        Digits.size() >= 2 && (Digits.endsWith(u'1') || Digits.endsWith(u'7')) &&
        Digits.chopped(1).toDouble() > Bounds.High) {
        return {TValueVerdict::TKind::Unsure, {}};
    }
    if (Inside(Limits, Value)) {
        if (!AgreesWithRange(Value, Bounds)) {
            return {TValueVerdict::TKind::Unsure, {}};
        }
        return {};
    }
    // Impossible as printed: a point lost in a test the layout prints with decimals is put
    // back, but only where no other place for it makes a possible value too. "58" for HbA1c
    // can only be 5.8; "112" for Cr may be 1.12 or 11.2, and so gives none.
    if (!Exact || !M.captured(1).isEmpty() || !Whole.match(Digits).hasMatch() ||
        ALayoutDecimals < 1 || Digits.size() <= ALayoutDecimals) {
        return {TValueVerdict::TKind::Unsure, {}};
    }
    QString Restored;
    for (qsizetype Decimals = 1; Decimals < Digits.size(); ++Decimals) {
        QString Printed = Digits;
        Printed.insert(Digits.size() - Decimals, u'.');
        if (Printed.startsWith(u'0') && !Printed.startsWith(QStringLiteral("0."))) {
            continue; // "01.2" was no number as printed
        }
        const double Candidate = Printed.toDouble();
        if (!Inside(Limits, Candidate) || !AgreesWithRange(Candidate, Bounds)) {
            continue;
        }
        if (!Restored.isEmpty() || Decimals != ALayoutDecimals) {
            return {TValueVerdict::TKind::Unsure, {}};
        }
        Restored = Printed;
    }
    if (Restored.isEmpty()) {
        return {TValueVerdict::TKind::Unsure, {}};
    }
    return {TValueVerdict::TKind::Restored, Restored};
}
