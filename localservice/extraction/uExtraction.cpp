#include "extraction/uExtraction.h"

#include "extraction/uLabelSearch.h"
#include "extraction/uPlausibility.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

namespace {

// ---- characters ----

bool IsAsciiLetter(QChar C) {
    const char16_t U = C.unicode();
    return (U >= 'A' && U <= 'Z') || (U >= 'a' && U <= 'z');
}

// ---- values ----

const QString kUnsigned = QStringLiteral(R"((?:\d{1,3}(?:,\d{3})+|\d+)(?:\.\d+)?)");
const QString kNumber = "[+-]?" + kUnsigned;
const QString kComparator = QStringLiteral("(?:<=|>=|[<>≦≧≤≥])");

const QRegularExpression& ValuePrefixRe() {
    static const QRegularExpression Re("^(" + kComparator + "?" + kNumber + ")(.*)$");
    return Re;
}

const QRegularExpression& RangeRe() {
    static const QRegularExpression Re(R"(^[(\[]?()" + kNumber + ")[-~ー](" + kUnsigned +
                                       R"()[)\]]?$)");
    return Re;
}

const QRegularExpression& OneSidedRe() {
    static const QRegularExpression Re("^[(\\[]?(" + kComparator + kNumber + "|" + kNumber +
                                       "(?:以下|以上|未満))[)\\]]?$");
    return Re;
}

const QRegularExpression& QualitativeRe() {
    static const QRegularExpression Re(
        R"(^(?:\(?[-+±]\)?|\(?[1-4]\+\)?|陰性|陽性|弱陽性|擬陽性)$)");
    return Re;
}

const QRegularExpression& FlaggedRangeRe() {
    static const QRegularExpression Re(R"(^(.*[\d)\]])(\*?[HL]|[HL]\*|HH|LL|[↑↓]{1,2})$)");
    return Re;
}

QString FlagOf(const QString& AToken) {
    static const QStringList kHigh{"H", "HH", "*H", "H*", "(H)", "↑", "↑↑", "高"};
    static const QStringList kLow{"L", "LL", "*L", "L*", "(L)", "↓", "↓↓", "低"};
    if (kHigh.contains(AToken)) {
        return QStringLiteral("H");
    }
    if (kLow.contains(AToken)) {
        return QStringLiteral("L");
    }
    return {};
}

// What follows a value's digits: a flag, a unit, or both ("H%", "Lmg/dL", "*H").
std::pair<QString, QString> SplitFlag(const QString& ARest) {
    if (!FlagOf(ARest).isEmpty()) {
        return {FlagOf(ARest), {}};
    }
    static const QRegularExpression FlagThenUnit(
        QStringLiteral(R"(^(\*?[HL]|[HL]\*|HH|LL|[↑↓]{1,2})((?:%|[a-zμµ/]).*)$)"));
    if (const auto M = FlagThenUnit.match(ARest); M.hasMatch()) {
        return {FlagOf(M.captured(1)), M.captured(2)};
    }
    return {{}, ARest};
}

QString StripBrackets(const QString& AToken) {
    static const QString kOpen = QStringLiteral("([【「〔");
    static const QString kClose = QStringLiteral(")]】」〕");
    if (AToken.size() >= 2 && kOpen.contains(AToken.front()) && kClose.contains(AToken.back())) {
        return AToken.mid(1, AToken.size() - 2);
    }
    return AToken;
}

bool IsUnitLike(const QString& AToken) {
    for (const QChar C : AToken) {
        if (IsAsciiLetter(C) || C == u'%' || C == u'/' || C == u'μ' || C == u'µ') {
            return true;
        }
    }
    return AToken == u"倍" || AToken == u"秒";
}

std::optional<QString> ReferenceOf(const QString& AToken) {
    QString Token = AToken;
    // "基準値:13-30" and the like carry their own caption.
    if (const qsizetype Colon = Token.lastIndexOf(u':'); Colon >= 0) {
        Token = Token.mid(Colon + 1);
    }
    if (const auto M = RangeRe().match(Token); M.hasMatch()) {
        return M.captured(1) + u'-' + M.captured(2);
    }
    if (const auto M = OneSidedRe().match(Token); M.hasMatch()) {
        return M.captured(1);
    }
    return std::nullopt;
}

bool IsReferenceCaption(const QString& AToken) {
    static const QRegularExpression Re(
        QStringLiteral("^[(\\[]?(?:基準値|基準範囲|参考値|正常値|範囲)[)\\]:]?$"));
    return Re.match(AToken).hasMatch();
}

// A one-sided limit in words: "0.14以下", "(60以上)", "5未満".
bool IsWordedLimit(const QString& AToken) {
    static const QRegularExpression Re(
        QStringLiteral(R"(^[(\[]?[\d.,]+(?:以下|以上|未満)[)\]]?$)"));
    return Re.match(AToken).hasMatch();
}

// "(NGSP)" after the value: the method, not the unit.
bool IsBracketedCaption(const QString& AToken) {
    static const QRegularExpression Re(QStringLiteral(R"(^[(\[【][\p{L}\s]+[)\]】]$)"));
    return Re.match(AToken).hasMatch();
}

bool IsNumberToken(const QString& AToken) {
    static const QRegularExpression Re("^" + kNumber + "$");
    return Re.match(AToken).hasMatch();
}

QStringList Tokenize(const QString& ASegment, bool AJoinSpacedRanges) {
    static const QRegularExpression Blanks(QStringLiteral("\\s+"));
    // "mEq/L(138-145)": a range in brackets run into the unit before it.
    static const QRegularExpression GluedBracket(QStringLiteral(R"((?<=[^\s(\[\-~])(?=[(\[]\d))"));
    QStringList Raw;
    for (const QString& Word : ASegment.split(Blanks, Qt::SkipEmptyParts)) {
        Raw << Word.split(GluedBracket, Qt::SkipEmptyParts);
    }
    // "13 - 30" printed with blanks is one range.
    QStringList Tokens;
    for (qsizetype i = 0; i < Raw.size(); ++i) {
        if (AJoinSpacedRanges && i + 2 < Raw.size() && IsNumberToken(Raw[i]) &&
            IsNumberToken(Raw[i + 2]) &&
            (Raw[i + 1] == u"-" || Raw[i + 1] == u"~" || Raw[i + 1] == u"ー")) {
            Tokens << Raw[i] + u'-' + Raw[i + 2];
            i += 2;
        } else {
            Tokens << Raw[i];
        }
    }
    return Tokens;
}

// How many decimals the layout prints for the test: those of its range's upper end, looked
// for in every token of the line, so that one misread in the lower end ("(0.4G-0.79)") still
// tells.
int LayoutDecimals(const QString& AReference, const QStringList& ATokens) {
    static const QRegularExpression UpperEnd(
        QStringLiteral(R"((?:^|[-~〜≦≤<])[(\[]?\d[\d,]*\.(\d+)[)\]]?$)"));
    if (const auto M = UpperEnd.match(AReference); M.hasMatch()) {
        return static_cast<int>(M.capturedLength(1));
    }
    static const QRegularExpression DecimalUpperEnd(QStringLiteral(R"([-~〜]\d+\.(\d+)[)\]]?$)"));
    for (const QString& Token : ATokens) {
        if (const auto M = DecimalUpperEnd.match(Token); M.hasMatch()) {
            return static_cast<int>(M.capturedLength(1));
        }
    }
    return 0;
}

// What follows the digits of "12S", "1O0", "3]", "6,5OO" or "9l": a digit misread as a letter
// or a stroke, so the number is not 12, 1, 3, 6 or 9 in some unit, and no value beats a wrong
// one. A bar alone at the end ("12|") is a table rule beside the number, which stands.
bool IsMisreadNumber(const QString& ARest) {
    // "5." or "6,": the digits after the point or separator were lost.
    if (ARest.startsWith(u'.') || ARest.startsWith(u',')) {
        return true;
    }
    static const QRegularExpression LookAlikes(QStringLiteral(R"(^[0-9.,SOBZlI|!\]]*$)"));
    static const QRegularExpression LookAlike(QStringLiteral(R"([SOBZlI|!\]])"));
    static const QRegularExpression Rule(QStringLiteral(R"(^\|+$)"));
    return LookAlikes.match(ARest).hasMatch() && ARest.contains(LookAlike) &&
           !Rule.match(ARest).hasMatch();
}

// Which of several results in a row is the current one, as the table's header tells: captions
// ("今回 前回", "前回 今回") or exam dates, the newest being the current one.
struct TValueColumns {
    int Count = 0;
    int Current = 0;
};

// The header row of a table of tests: it names the column of names, or the unit and the range.
bool IsTableHeader(const QString& ALine) {
    static const QRegularExpression Names(QStringLiteral("項目|検査名"));
    return Names.match(ALine).hasMatch() ||
           (ALine.contains(QStringLiteral("単位")) && ALine.contains(QStringLiteral("基準")));
}

// Every date pattern of a line in the order they stand, whether the date exists or not.
std::vector<std::pair<qsizetype, QDate>> DatesIn(const QString& ALine);

// Of a table's header row: engaged when it names its result columns.
std::optional<TValueColumns> HeaderColumns(const QString& ALine) {
    static const QRegularExpression Caption(QStringLiteral("前々回|前回|今回|結果|測定値"));
    TValueColumns Columns;
    int Previous = 0;
    for (auto It = Caption.globalMatch(ALine); It.hasNext();) {
        const QString Word = It.next().captured();
        if (Word.startsWith(u'前')) {
            ++Previous;
        } else if (Columns.Count - Previous == 0) {
            Columns.Current = Columns.Count;
        }
        ++Columns.Count;
    }
    if (Previous > 0 && Columns.Count - Previous == 1) {
        return Columns;
    }
    // Result captions and no earlier ones ("結果", once per side of a two-column page): one
    // result column, and what stands beside a result is no earlier visit's.
    if (Previous == 0 && Columns.Count > 0) {
        return TValueColumns{1, 0};
    }
    // A cumulative report prints its dates in order, oldest or newest first. Out of order, one
    // of them is misread, and so may be which column is today's.
    std::vector<QDate> Dates;
    for (const auto& [At, Date] : DatesIn(ALine)) {
        Dates.push_back(Date);
    }
    if (Dates.size() < 2 ||
        std::any_of(Dates.begin(), Dates.end(), [](const QDate& D) { return !D.isValid(); })) {
        return std::nullopt;
    }
    const bool Rising = std::is_sorted(Dates.begin(), Dates.end(), std::less_equal<QDate>());
    const bool Falling = std::is_sorted(Dates.begin(), Dates.end(), std::greater_equal<QDate>());
    if (!Rising && !Falling) {
        return std::nullopt;
    }
    return TValueColumns{static_cast<int>(Dates.size()),
                         Rising ? static_cast<int>(Dates.size()) - 1 : 0};
}

// A token that is a result of a column: a number with at most a flag or a unit stuck to it
// ("35H", "95UL", "769%"), or a qualitative result. Not a unit that starts with a number
// ("10³/μL").
bool IsResultToken(const QString& AToken) {
    static const QRegularExpression UnitStart(QStringLiteral(R"(^[A-Za-zμµ%/])"));
    if (const auto M = ValuePrefixRe().match(AToken); M.hasMatch()) {
        const QString Rest = M.captured(2);
        return Rest.isEmpty() || !FlagOf(Rest).isEmpty() || UnitStart.match(Rest).hasMatch();
    }
    return QualitativeRe().match(AToken).hasMatch();
}

// Recognition's specks between columns ("。", "・", "|").
bool IsSpeck(const QString& AToken) {
    static const QRegularExpression Speck(QStringLiteral(R"(^[^\p{L}\p{N}]+$)"));
    return Speck.match(AToken).hasMatch() && !QualitativeRe().match(AToken).hasMatch();
}

// Keeps the current result of a row and drops the others; false when the row's results cannot
// be told apart: more or fewer than the header's result columns, a lone one that may stand in
// any of them, or several in a row no header explains (an earlier visit's beside today's).
bool KeepCurrentColumn(QStringList& ATokens, const std::optional<TValueColumns>& AColumns) {
    std::vector<qsizetype> Results;
    for (qsizetype i = 0; i < ATokens.size(); ++i) {
        if (!FlagOf(ATokens[i]).isEmpty() || IsSpeck(ATokens[i])) {
            continue;
        }
        if (!IsResultToken(ATokens[i])) {
            break;
        }
        Results.push_back(i);
    }
    if (!AColumns) {
        // With no header that names the result columns a second result may be an earlier
        // visit's as well as a misread unit or a reference: none is told.
        return Results.size() <= 1;
    }
    if (AColumns->Count == 1) {
        return true; // beside the result: a misread unit ("6.4 96"), a reference ("(2+) (-)")
    }
    if (Results.size() <= 1) {
        return Results.empty() || AColumns->Current == 0;
    }
    if (Results.size() != static_cast<size_t>(AColumns->Count)) {
        return false;
    }
    for (auto It = Results.rbegin(); It != Results.rend(); ++It) {
        if (*It != Results[static_cast<size_t>(AColumns->Current)]) {
            ATokens.removeAt(*It);
        }
    }
    return true;
}

// The text after a label: value, unit, reference range and flag, in whatever column order.
// Engaged with an empty value when the label's value is there but misread. Once the value is
// read, a word that is none of these, or a second number, begins another test's columns (the
// neighbour in a two-column report whose name was not recognised): its range and unit are not
// this test's.
std::optional<TLabResult> ParseValueColumns(QString ASegment, int& ALayoutDecimals,
                                            const std::optional<TValueColumns>& AColumns) {
    // A caption in brackets right after the label ("AST(GOT)", "HbA1c (NGSP)") is not data.
    // Needs a letter, so that "(-)" and "(+)" stay values.
    static const QRegularExpression Caption(
        QStringLiteral(R"(^\s*[(\[【「〔][^0-9)\]】」〕]*\p{L}[^0-9)\]】」〕]*[)\]】」〕])"));
    static const QRegularExpression Separators(QStringLiteral("^[\\s:=]+"));
    for (int i = 0; i < 2; ++i) {
        ASegment.remove(Caption);
        ASegment.remove(Separators);
    }

    TLabResult R;
    // Where results stand side by side, "48 - 52" is two of them, not a range.
    QStringList Tokens = Tokenize(ASegment, !AColumns || AColumns->Count == 1);
    if (!KeepCurrentColumn(Tokens, AColumns)) {
        return TLabResult{}; // the current result cannot be told from the others
    }
    for (const QString& Token : Tokens) {
        const QString Flag = FlagOf(Token);
        if (!Flag.isEmpty()) {
            if (R.Flag.isEmpty()) {
                R.Flag = Flag;
            }
            continue;
        }
        if (R.Value.isEmpty()) {
            if (RangeRe().match(Token).hasMatch()) {
                if (R.Reference.isEmpty()) {
                    R.Reference = *ReferenceOf(Token);
                }
                continue;
            }
            // "0.14以下" or "60以上" before the result is its reference column, not a value.
            if (IsWordedLimit(Token)) {
                if (R.Reference.isEmpty()) {
                    R.Reference = *ReferenceOf(Token);
                }
                continue;
            }
            if (const auto M = ValuePrefixRe().match(Token); M.hasMatch()) {
                const QString Rest = M.captured(2);
                if (IsMisreadNumber(Rest)) {
                    return TLabResult{}; // the label's value, unreadable
                }
                R.Value = M.captured(1);
                const auto [Flag, Unit] = SplitFlag(Rest);
                if (!Flag.isEmpty()) {
                    R.Flag = Flag;
                }
                if (!Unit.isEmpty() && IsUnitLike(Unit) && R.Unit.isEmpty()) {
                    R.Unit = StripBrackets(Unit);
                }
                continue;
            }
            if (QualitativeRe().match(Token).hasMatch()) {
                R.Value = Token;
                continue;
            }
            if (IsUnitLike(Token) && R.Unit.isEmpty()) {
                R.Unit = StripBrackets(Token);
            }
            continue;
        }
        if (const auto Reference = ReferenceOf(Token)) {
            if (R.Reference.isEmpty()) {
                R.Reference = *Reference;
            }
            continue;
        }
        // Recognition drops the blank between the range and the flag: "4.9-6.0H".
        if (const auto M = FlaggedRangeRe().match(Token); M.hasMatch()) {
            if (const auto Reference = ReferenceOf(M.captured(1))) {
                if (R.Reference.isEmpty()) {
                    R.Reference = *Reference;
                }
                if (R.Flag.isEmpty()) {
                    R.Flag = FlagOf(M.captured(2));
                }
                continue;
            }
        }
        if (IsReferenceCaption(Token) || IsBracketedCaption(Token)) {
            continue;
        }
        if (IsUnitLike(Token) && !IsNumberToken(Token)) {
            if (R.Unit.isEmpty()) {
                R.Unit = StripBrackets(Token);
            }
            continue;
        }
        break;
    }
    if (R.Value.isEmpty()) {
        return std::nullopt;
    }
    ALayoutDecimals = LayoutDecimals(R.Reference, Tokens);
    return R;
}

// "9.99-9.14": a range whose lower end is above its upper end was not printed so.
bool IsInvertedRange(const QString& AReference) {
    static const QRegularExpression Range(
        QStringLiteral(R"(^([\d,]+(?:\.\d+)?)-([\d,]+(?:\.\d+)?)$)"));
    const auto M = Range.match(AReference);
    return M.hasMatch() && QString(M.captured(1)).remove(u',').toDouble() >
                               QString(M.captured(2)).remove(u',').toDouble();
}

// How many inverted ranges on a page show that its digits are misread throughout.
constexpr int kMostInvertedRanges = 2;

// ---- exam date ----

const QRegularExpression& WesternDateRe() {
    static const QRegularExpression Re(
        QStringLiteral(R"((?<!\d)(\d{4})\s*[/.\-]\s*(\d{1,2})\s*[/.\-]\s*(\d{1,2})(?!\d))"));
    return Re;
}

const QRegularExpression& KanjiDateRe() {
    static const QRegularExpression Re(
        QStringLiteral(R"((\d{4})\s*年\s*(\d{1,2})\s*月\s*(\d{1,2})\s*日)"));
    return Re;
}

const QRegularExpression& EraDateRe() {
    static const QRegularExpression Re(QStringLiteral(
        R"((令和|平成|昭和|(?<![A-Za-z])[RHS])\s*(\d{1,2}|元)\s*[年./\-]\s*(\d{1,2})\s*[月./\-]\s*(\d{1,2})(?!\d))"));
    return Re;
}

// A date that no caption names may stand for the exam only where it stands alone on its line or
// beside a caption of the report's own dates: "2024年5月1日", "受付 2024/05/02". Beside
// anything else ("Rin 2024811558 削回 2024年5月6日") it may be any date.
bool DateStandsForTheReport(QString ALine) {
    static const QRegularExpression ReportCaption(
        QStringLiteral("受付|報告|発行|作成|印刷|実施|日付"));
    static const QRegularExpression Content(QStringLiteral(R"([\p{L}\p{N}])"));
    if (ReportCaption.match(ALine).hasMatch()) {
        return true;
    }
    for (const QRegularExpression* Re : {&WesternDateRe(), &KanjiDateRe(), &EraDateRe()}) {
        ALine.remove(*Re);
    }
    ALine.remove(u'日'); // the era pattern leaves it: "令和6年5月1日"
    return !Content.match(ALine).hasMatch();
}

std::vector<std::pair<qsizetype, QDate>> DatesIn(const QString& ALine) {
    std::vector<std::pair<qsizetype, QDate>> Dates;
    for (const QRegularExpression* Re : {&WesternDateRe(), &KanjiDateRe()}) {
        for (auto It = Re->globalMatch(ALine); It.hasNext();) {
            const auto M = It.next();
            Dates.emplace_back(
                M.capturedStart(),
                QDate(M.captured(1).toInt(), M.captured(2).toInt(), M.captured(3).toInt()));
        }
    }
    for (auto It = EraDateRe().globalMatch(ALine); It.hasNext();) {
        const auto M = It.next();
        const QString Name = M.captured(1);
        const int EraYear = M.captured(2) == u"元" ? 1 : M.captured(2).toInt();
        int Base = 1925; // Showa
        if (Name == u"令和" || Name == u"R") {
            Base = 2018;
        } else if (Name == u"平成" || Name == u"H") {
            Base = 1988;
        }
        Dates.emplace_back(M.capturedStart(),
                           QDate(Base + EraYear, M.captured(3).toInt(), M.captured(4).toInt()));
    }
    std::sort(Dates.begin(), Dates.end(),
              [](const auto& A, const auto& B) { return A.first < B.first; });
    return Dates;
}

// The line's first date that exists.
std::optional<QDate> DateIn(const QString& ALine) {
    for (const auto& [At, Date] : DatesIn(ALine)) {
        if (Date.isValid() && Date.year() >= 1900 && Date.year() <= 2100) {
            return Date;
        }
    }
    return std::nullopt;
}

// The sampling date when a line names it, else the first date of the report. A date that is not
// sure gives none: the sampling line's date unreadable (no other date may stand in for it), two
// sampling dates that disagree, or one that the report's own issue date contradicts (after it,
// or months before it: "2024年11月5日" read as January).
QString FindExamDate(const QStringList& ALines) {
    static const QRegularExpression Birth(QStringLiteral("生年月日|誕生日|birth|DOB"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression Sampling(QStringLiteral("採取|採血|検査日|受診日|測定日|検体"));
    static const QRegularExpression SamplingDateCaption(
        QStringLiteral("(?:採取|採血|検査|受診|測定)(?:日|年月日)"));
    static const QRegularExpression DateAttempt(
        QStringLiteral(R"(\d{2,4}\s*[年/.\-]|令和|平成|(?<![A-Za-z])[RH]\s*\d)"));
    static const QRegularExpression Issued(QStringLiteral("(?:報告|発行|作成|印刷)(?:日|年月日)"));
    constexpr qint64 kLongestWait = 92; // days from sampling to the report, cultures included
    constexpr int kOldestReportYears = 10;

    // The date that follows a caption on its line, else any date of the line ("2024/05/01 採血").
    const auto DateAfter = [](const QString& ALine, const QRegularExpressionMatch& ACaption) {
        const auto After = DateIn(ALine.mid(ACaption.capturedStart()));
        return After ? After : DateIn(ALine);
    };
    static const QRegularExpression Earlier(QStringLiteral("前回|前々回"));
    std::optional<QDate> Sampled, Issue, First;
    bool Unsure = false;
    for (QString Line : ALines) {
        // A birth date shares its line with the sampling date now and then: only the part of
        // the line without it counts ("受診日 2024年7月9日　生年月日 1979年2月28日").
        if (const auto BirthAt = Birth.match(Line); BirthAt.hasMatch()) {
            const auto SampledAt = Sampling.match(Line, BirthAt.capturedEnd());
            Line = SampledAt.hasMatch() ? Line.mid(SampledAt.capturedStart())
                                        : Line.left(BirthAt.capturedStart());
        }
        // The previous visit's date is no candidate, unless a sampling caption comes first.
        if (const auto EarlierAt = Earlier.match(Line); EarlierAt.hasMatch()) {
            const auto SampledAt = Sampling.match(Line);
            Line = SampledAt.hasMatch() && SampledAt.capturedStart() < EarlierAt.capturedStart()
                       ? Line.left(EarlierAt.capturedStart())
                       : QString();
        }
        const auto Date = DateIn(Line);
        if (const auto Caption = SamplingDateCaption.match(Line);
            Caption.hasMatch() && !DateIn(Line.mid(Caption.capturedStart())) &&
            DateAttempt.match(Line, Caption.capturedEnd()).hasMatch()) {
            Unsure = true; // the sampling date is there, unreadable
            continue;
        }
        if (!Date) {
            continue;
        }
        if (const auto Caption = Sampling.match(Line); Caption.hasMatch()) {
            const auto Here = DateAfter(Line, Caption);
            Unsure = Unsure || (Sampled && *Sampled != *Here);
            Sampled = Sampled ? Sampled : Here;
        }
        if (const auto Caption = Issued.match(Line); Caption.hasMatch() && !Issue) {
            Issue = DateIn(Line.mid(Caption.capturedStart()));
        }
        if (!First && DateStandsForTheReport(Line)) {
            First = Date;
        }
    }
    const std::optional<QDate> Exam = Sampled ? Sampled : First;
    if (!Exam || Unsure) {
        return {};
    }
    // A report photographed today is not from the future, nor from long ago: such a date is a
    // misread one or a birth date whose caption was misread.
    const QDate Today = QDate::currentDate();
    if (*Exam > Today.addDays(1) || *Exam < Today.addYears(-kOldestReportYears)) {
        return {};
    }
    if (Issue && (*Exam > *Issue || Exam->daysTo(*Issue) > kLongestWait)) {
        return {};
    }
    return Exam->toString(Qt::ISODate);
}

// ---- institution ----

// The name alone: the line that names the institution often carries the exam date, the patient
// or the phone number as well.
QString CleanInstitution(QString ALine, const QRegularExpression& AKeyword) {
    static const QRegularExpression Postal(QStringLiteral(R"(〒\s*\d{3}-?\d{4})"));
    static const QRegularExpression Contact(QStringLiteral("(TEL|Tel|tel|電話|FAX|Fax|℡).*$"));
    static const QRegularExpression Honorific(QStringLiteral(R"(\s*(御中|様|殿)\s*$)"));
    // After the name: a column gap, a number or date, contact details or a field's caption.
    static const QRegularExpression FieldAfter(QStringLiteral(
        R"(\s{2,}|\s*(?:\d|令和|平成|昭和|(?<![A-Za-z])[RHS]\s*\d|TEL|Tel|tel|電話|FAX|Fax|℡|)"
        R"((?:検査|採取|採血|検体|報告|受付|受診|発行|測定|印刷|依頼|作成)(?:日|年月日)|)"
        R"(患者|氏名|カルテ|(?<![A-Za-z])ID(?![A-Za-z])))"));
    // Before the name: a column gap or a date.
    static const QRegularExpression FieldBefore(QStringLiteral(
        R"(\s{2,}|\d{4}\s*[/.\-年]\s*\d{1,2}\s*[/.\-月]\s*\d{1,2}(?:\s*日)?|)"
        R"((?:令和|平成|昭和|(?<![A-Za-z])[RHS])\s*(?:\d{1,2}|元)\s*[年./\-]\s*\d{1,2}\s*[月./\-]\s*)"
        R"(\d{1,2}(?:\s*日)?)"));
    ALine.remove(Postal);
    if (const qsizetype Colon = ALine.indexOf(u':'); Colon >= 0) {
        const QString After = ALine.mid(Colon + 1);
        if (AKeyword.match(After).hasMatch()) {
            ALine = After;
        }
    }
    const auto Keyword = AKeyword.match(ALine);
    if (!Keyword.hasMatch()) {
        return {};
    }
    if (const auto Next = FieldAfter.match(ALine, Keyword.capturedEnd()); Next.hasMatch()) {
        ALine.truncate(Next.capturedStart());
    }
    qsizetype NameStart = 0;
    for (auto It = FieldBefore.globalMatch(ALine.left(Keyword.capturedStart())); It.hasNext();) {
        NameStart = It.next().capturedEnd();
    }
    ALine.remove(0, NameStart);
    ALine.remove(Contact);
    ALine.remove(Honorific);
    return ALine.simplified();
}

QString FindInstitution(const QStringList& ALines, const std::vector<bool>& AIsTestLine) {
    static const QRegularExpression Medical(
        QStringLiteral("病院|クリニック|医院|診療所|医療センター|ホスピタル|hospital|clinic"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression Laboratory(
        QStringLiteral("検査センター|健診センター|検診センター|保健センター|研究所|ラボ"));
    for (const QRegularExpression* Keyword : {&Medical, &Laboratory}) {
        for (qsizetype i = 0; i < ALines.size(); ++i) {
            if (AIsTestLine[static_cast<size_t>(i)] || !Keyword->match(ALines[i]).hasMatch()) {
                continue;
            }
            const QString Name = CleanInstitution(ALines[i], *Keyword);
            if (!Name.isEmpty()) {
                return Name;
            }
        }
    }
    return {};
}

// Whether recognition doubted the number of AValue on line ALine. The number is compared as
// recognition wrote it: full-width and other forms are folded on both sides.
bool IsDoubtful(const QString& AValue, const TDoubtfulNumbers* ADoubts, qsizetype ALine) {
    static const QRegularExpression Digits(QStringLiteral(R"(\d[\d.,]*)"));
    if (ADoubts == nullptr || ALine < 0 || static_cast<size_t>(ALine) >= ADoubts->size()) {
        return false;
    }
    const QString Number = Digits.match(AValue).captured();
    if (Number.isEmpty()) {
        return false;
    }
    for (const std::string& Doubtful : (*ADoubts)[static_cast<size_t>(ALine)]) {
        const QString Folded = NormalizeReportText(QString::fromStdString(Doubtful));
        if (Folded.contains(Number)) {
            return true;
        }
    }
    return false;
}

} // namespace

QString NormalizeReportText(const QString& AText) {
    QString Out = AText;
    for (QChar& C : Out) {
        const char16_t U = C.unicode();
        if (U >= 0xFF01 && U <= 0xFF5E) {
            C = QChar(static_cast<char16_t>(U - 0xFEE0));
        }
        switch (C.unicode()) {
        case 0x3000:
        case u'\t':
            C = u' ';
            break;
        case 0x301C:
            C = u'~';
            break;
        default:
            if (IsDashVariant(C.unicode()))
                C = u'-';
            break;
        }
    }
    return Out;
}

TExtraction ExtractLabValues(const QString& AText, const std::vector<TExtractItem>& AItems,
                             const TDoubtfulNumbers* ADoubts) {
    static const QRegularExpression LineBreak(QStringLiteral("\r\n|\r|\n"));
    const QStringList Lines = NormalizeReportText(AText).split(LineBreak);
    const TLabelIndex Labels(AItems);

    std::map<size_t, TLabResult> Found;
    // Once a label has given its items a value, later lines cannot change them.
    std::vector<bool> LabelDone(Labels.Count(), false);
    std::vector<bool> IsTestLine(static_cast<size_t>(Lines.size()), false);
    std::optional<TValueColumns> Columns; // from the last table header that names them
    int InvertedRanges = 0;
    for (qsizetype i = 0; i < Lines.size(); ++i) {
        const QString& Line = Lines[i];
        if (IsTableHeader(Line)) {
            Columns = HeaderColumns(Line);
            continue;
        }
        const std::vector<TLabelMatch> Matches = Labels.Find(Line);
        for (size_t m = 0; m < Matches.size(); ++m) {
            const qsizetype Start = Matches[m].End;
            const qsizetype End = m + 1 < Matches.size() ? Matches[m + 1].Start : Line.size();
            int Decimals = 0;
            auto Result = ParseValueColumns(Line.mid(Start, End - Start), Decimals, Columns);
            if (!Result) {
                continue;
            }
            if (IsDoubtful(Result->Value, ADoubts, i)) {
                *Result = TLabResult{}; // a guess between readings that disagreed
            }
            if (IsInvertedRange(Result->Reference)) {
                // "9.99-9.14" for "0.00-0.14": the line's digits are misread, its value too.
                ++InvertedRanges;
                *Result = TLabResult{};
            }
            if (!Result->Value.isEmpty()) {
                const TExtractItem& Item = AItems[Labels.Items(Matches[m].Label).front()];
                const TValueVerdict Verdict = CheckValue(Item, Result->Value, Result->Unit,
                                                         Result->Reference, Decimals, Result->Flag);
                if (Verdict.Kind == TValueVerdict::TKind::Unsure) {
                    *Result = TLabResult{}; // the label's value, not sure enough to hand on
                } else if (Verdict.Kind == TValueVerdict::TKind::Restored) {
                    Result->Value = Verdict.Value;
                }
            }
            IsTestLine[static_cast<size_t>(i)] = true;
            if (LabelDone[Matches[m].Label]) {
                continue;
            }
            // A misread value is the item's too: a later line ("前回 AST 40") must not stand in
            // for it. It stays in Found, empty, and is left out of the results.
            LabelDone[Matches[m].Label] = true;
            // Items that share a name or alias each take the same value.
            for (const size_t Item : Labels.Items(Matches[m].Label)) {
                if (Found.count(Item) == 0) {
                    Result->Name = QString::fromStdString(AItems[Item].Name);
                    Found.emplace(Item, *Result);
                }
            }
        }
    }

    // Ranges printed low to high read high to low on several lines: the page is read with one
    // digit taken for another throughout (a slashed zero for 9), and no number on it is sure.
    const bool DigitsMisread = InvertedRanges >= kMostInvertedRanges;
    static const QRegularExpression Digit(QStringLiteral("\\d"));
    TExtraction Extraction;
    for (auto& Entry : Found) {
        if (!Entry.second.Value.isEmpty() &&
            !(DigitsMisread && Entry.second.Value.contains(Digit))) {
            Extraction.Results.push_back(std::move(Entry.second));
        }
    }
    Extraction.ExamDate = FindExamDate(Lines);
    Extraction.Institution = FindInstitution(Lines, IsTestLine);
    return Extraction;
}
