#include "extraction/uLabelSearch.h"

#include <QStringList>

namespace {

bool IsAsciiLetter(QChar C) {
    const char16_t U = C.unicode();
    return (U >= 'A' && U <= 'Z') || (U >= 'a' && U <= 'z');
}

bool IsAsciiAlnum(QChar C) {
    return IsAsciiLetter(C) || (C.unicode() >= '0' && C.unicode() <= '9');
}

// Characters whose compatibility form is themselves, so most of a Japanese report is folded
// without building a string per character.
bool IsPlainAlready(char32_t U) {
    return U < 0x80 || (U >= 0x3041 && U <= 0x3096) || (U >= 0x30A1 && U <= 0x30FA) ||
           U == 0x30FC || (U >= 0x4E00 && U <= 0x9FFF);
}

// Half-width voiced sound marks belong to the kana before them: "ｶﾞ" is "ガ".
bool JoinsPrevious(QChar C) {
    return C.unicode() == 0xFF9E || C.unicode() == 0xFF9F || C.isMark();
}

QChar PlainOf(QChar C) {
    const char16_t U = C.unicode();
    if (U >= 'A' && U <= 'Z') {
        return QChar(static_cast<char16_t>(U + ('a' - 'A')));
    }
    if (U == 0x0393) { // Γ
        return QChar(0x03B3);
    }
    return C;
}

bool IsStroke(QChar APlain) {
    return APlain == u'|' || APlain == u'\\';
}

QChar FoldConfusion(QChar APlain) {
    switch (APlain.unicode()) {
    case u'1':
    case u'l':
    case u'i':
    case u'|':
    case u'\\':
    case 0x01C0: // ǀ
        return u'1';
    case u'0':
    case u'o':
        return u'0';
    case u'y':
    case 0x0263: // ɣ
    case 0x03B3: // γ
        return QChar(0x03B3);
    // Kana and kanji that print alike
    case 0x3078:              // へ
        return QChar(0x30D8); // ヘ
    case 0x3079:              // べ
        return QChar(0x30D9); // ベ
    case 0x307A:              // ぺ
        return QChar(0x30DA); // ペ
    case 0x529B:              // 力
        return QChar(0x30AB); // カ
    case 0x53E3:              // 口
        return QChar(0x30ED); // ロ
    case 0x5DE5:              // 工
        return QChar(0x30A8); // エ
    case 0x4E8C:              // 二
        return QChar(0x30CB); // ニ
    case 0x516B:              // 八
        return QChar(0x30CF); // ハ
    case 0x5915:              // 夕
        return QChar(0x30BF); // タ
    case 0x535C:              // 卜
        return QChar(0x30C8); // ト
    case 0x7CBE:              // 精, 縛 and 柄, which small or blurred print of 糖 reads as
    case 0x7E1B:
    case 0x67C4:
        return QChar(0x7CD6); // 糖 (never 清: 血清 is serum)
    case 0x4E00:              // 一, the long vowel mark's twin
    case 0x2500:              // a box-drawing rule read for a dash
    case 0x30FC:              // ー, which recognition returns for a dash between letters
        return u'-';
    default:
        if (IsDashVariant(APlain.unicode()))
            return u'-';
        return APlain.isSpace() ? QChar(u' ') : APlain;
    }
}

// The character at AFolded's k-th place as the text has it, ASCII letters in their own case.
QChar CasedAt(QStringView AText, const TFoldedText& AFolded, qsizetype k) {
    const QChar Plain = AFolded.Plain[k];
    if (!IsAsciiLetter(Plain)) {
        return Plain;
    }
    QChar C = AText[AFolded.Start[static_cast<size_t>(k)]];
    if (C.unicode() >= 0xFF21 && C.unicode() <= 0xFF5A) { // full-width Ａ to ｚ
        C = QChar(static_cast<char16_t>(C.unicode() - 0xFEE0));
    }
    return IsAsciiLetter(C) ? C : Plain;
}

bool IsSeparator(QChar AFolded) {
    return AFolded == u' ' || AFolded == u'-';
}

bool MayStartAt(const TFoldedText& AText, qsizetype APos) {
    if (APos == 0) {
        return true;
    }
    const QChar First = AText.Plain[APos];
    const QChar Before = AText.Plain[APos - 1];
    return IsAsciiAlnum(First) ? !IsAsciiAlnum(Before) : !Before.isLetter();
}

bool IsAsciiDigit(QChar C) {
    return C.unicode() >= '0' && C.unicode() <= '9';
}

// A label that ends in a digit does not end inside a number: "LD150" is LD, not "LDL" 50.
bool MayEndAt(const TFoldedText& AText, qsizetype AEnd) {
    if (AEnd >= AText.Plain.size()) {
        return true;
    }
    const QChar Next = AText.Plain[AEnd];
    if (IsAsciiDigit(AText.Plain[AEnd - 1]) &&
        (IsAsciiDigit(Next) || Next == u'.' || Next == u',')) {
        return false;
    }
    return !IsAsciiLetter(Next);
}

} // namespace

TFoldedText FoldForMatching(QStringView AText) {
    TFoldedText Out;
    Out.Folded.reserve(AText.size());
    Out.Plain.reserve(AText.size());
    Out.Start.reserve(static_cast<size_t>(AText.size()));
    Out.End.reserve(static_cast<size_t>(AText.size()));
    bool PreviousIsStroke = false;

    const auto Append = [&](QChar AChar, qsizetype AStart, qsizetype AEnd) {
        const QChar Plain = PlainOf(AChar);
        QChar Folded = FoldConfusion(Plain);
        // A 6 read for G ("T6" for TG), only right after a letter of the same word: a value
        // must never start a name ("ALT 61 U/L" holds no "GLU").
        if (Plain == u'6' && !Out.Plain.isEmpty() && IsAsciiLetter(Out.Plain.back()) &&
            Out.End.back() == AStart) {
            Folded = u'g';
        }
        const bool Stroke = IsStroke(Plain);
        if (Folded == u'1' && (Stroke || PreviousIsStroke) && !Out.Folded.isEmpty() &&
            Out.Folded.back() == u'1' && Out.End.back() == AStart) {
            Out.End.back() = AEnd;
            PreviousIsStroke = false;
            return;
        }
        Out.Folded.append(Folded);
        Out.Plain.append(Plain);
        Out.Start.push_back(AStart);
        Out.End.push_back(AEnd);
        PreviousIsStroke = Stroke;
    };

    qsizetype i = 0;
    while (i < AText.size()) {
        const qsizetype Start = i;
        char32_t Code = AText[i].unicode();
        if (AText[i].isHighSurrogate() && i + 1 < AText.size() && AText[i + 1].isLowSurrogate()) {
            Code = QChar::surrogateToUcs4(AText[i], AText[i + 1]);
            ++i;
        }
        ++i;
        bool Plain = IsPlainAlready(Code) && Code <= 0xFFFF;
        while (i < AText.size() && JoinsPrevious(AText[i])) {
            ++i;
            Plain = false;
        }
        if (Plain) {
            Append(AText[Start], Start, i);
            continue;
        }
        const QString Compatible =
            AText.sliced(Start, i - Start).toString().normalized(QString::NormalizationForm_KC);
        for (const QChar C : Compatible) {
            Append(C, Start, i);
        }
    }
    return Out;
}

TLabelIndex::TLabelIndex(const std::vector<TExtractItem>& AItems) {
    FLabelAt.push_back(-1); // the root
    for (size_t i = 0; i < AItems.size(); ++i) {
        QStringList Names{QString::fromStdString(AItems[i].Name)};
        for (const auto& Alias : AItems[i].Aliases) {
            Names << QString::fromStdString(Alias);
        }
        for (qsizetype n = 0; n < Names.size(); ++n) {
            const QString& Name = Names[n];
            // Separators are left out of labels; the search steps over a few in the text.
            const TFoldedText Folded = FoldForMatching(Name);
            QString Label, Plain;
            for (qsizetype k = 0; k < Folded.Folded.size(); ++k) {
                if (!IsSeparator(Folded.Folded[k])) {
                    Label.append(Folded.Folded[k]);
                    Plain.append(CasedAt(Name, Folded, k));
                }
            }
            if (!Label.isEmpty()) {
                Add(Label, Name, Plain, n == 0, i);
            }
        }
    }
}

void TLabelIndex::Add(const QString& AFolded, const QString& ASpelling, const QString& APlain,
                      bool AIsName, size_t AItem) {
    qint32 Node = 0;
    for (const QChar C : AFolded) {
        const quint64 Key = EdgeKey(Node, C);
        auto Edge = FEdges.constFind(Key);
        if (Edge == FEdges.cend()) {
            Edge = FEdges.insert(Key, static_cast<qint32>(FLabelAt.size()));
            FLabelAt.push_back(-1);
        }
        Node = Edge.value();
    }
    qint32& Label = FLabelAt[static_cast<size_t>(Node)];
    if (Label < 0) {
        Label = static_cast<qint32>(FItems.size());
        FItems.emplace_back();
        FSpellings.emplace_back();
        FPlainSpellings.emplace_back();
        FNamed.push_back(false);
    }
    QStringList& Spellings = FSpellings[static_cast<size_t>(Label)];
    if (AIsName && !FNamed[static_cast<size_t>(Label)]) {
        FNamed[static_cast<size_t>(Label)] = true;
        Spellings = QStringList{ASpelling};
    } else if (!FNamed[static_cast<size_t>(Label)] && !Spellings.contains(ASpelling)) {
        Spellings << ASpelling;
    }
    if (QStringList& Plains = FPlainSpellings[static_cast<size_t>(Label)];
        !Plains.contains(APlain)) {
        Plains << APlain;
    }
    std::vector<size_t>& Items = FItems[static_cast<size_t>(Label)];
    if (Items.empty() || Items.back() != AItem) {
        Items.push_back(AItem);
    }
}

qsizetype TLabelIndex::LongestAt(const TFoldedText& ALine, qsizetype APos, size_t& ALabel) const {
    // Inside a label, up to two separators in a row are stepped over: a dash anywhere
    // ("T-Bil"), a blank anywhere but after a single Latin letter, so that two one-letter
    // words do not make a label ("T B" is not "TB", while "γ GTP" is "γ-GTP").
    constexpr qsizetype kMaxGap = 2;
    qint32 Node = 0;
    qsizetype Matched = 0;
    qsizetype Gap = 0;
    bool GapHasDash = false;
    bool FirstIsAsciiLetter = false;
    qsizetype Best = 0;
    for (qsizetype k = APos; k < ALine.Folded.size(); ++k) {
        const QChar C = ALine.Folded[k];
        if (Matched > 0 && IsSeparator(C)) {
            if (++Gap > kMaxGap) {
                break;
            }
            GapHasDash = GapHasDash || C == u'-';
            continue;
        }
        if (Gap > 0) {
            // Two one-letter words are no name ("T B"). Past a blank or a dash a name may go on
            // in digits where one does ("CA 19-9", "CA125"); where none does, the digits are
            // the value.
            if (!GapHasDash && Matched < 2 && FirstIsAsciiLetter) {
                break;
            }
            Gap = 0;
            GapHasDash = false;
        }
        const auto Edge = FEdges.constFind(EdgeKey(Node, C));
        if (Edge == FEdges.cend()) {
            break;
        }
        Node = Edge.value();
        if (Matched++ == 0) {
            FirstIsAsciiLetter = IsAsciiLetter(ALine.Plain[k]);
        }
        if (const qint32 Label = FLabelAt[static_cast<size_t>(Node)];
            Label >= 0 && MayEndAt(ALine, k + 1)) {
            Best = k + 1 - APos;
            ALabel = static_cast<size_t>(Label);
        }
    }
    return Best;
}

bool TLabelIndex::LettersAsSpelled(QStringView AText, const TFoldedText& ALine, qsizetype APos,
                                   qsizetype ALen, size_t ALabel) const {
    QString Read;
    for (qsizetype k = APos; k < APos + ALen; ++k) {
        if (!IsSeparator(ALine.Folded[k])) {
            Read.append(CasedAt(AText, ALine, k));
        }
    }
    // Letters match in their own case: in two letters a case is a word ("NA" is not available,
    // "CA" starts a tumour marker, neither is Na or Ca). A small l and a capital I print alike
    // ("CI" is Cl); a capital L does not pass for an I.
    const auto Alike = [](QChar ARead, QChar ASpelled) {
        return !IsAsciiLetter(ARead) || !IsAsciiLetter(ASpelled) || ARead == ASpelled ||
               (ARead == u'I' && ASpelled == u'l') || (ARead == u'l' && ASpelled == u'I');
    };
    for (const QString& Spelled : FPlainSpellings[ALabel]) {
        bool Same = Spelled.size() == Read.size();
        for (qsizetype k = 0; Same && k < Read.size(); ++k) {
            Same = Alike(Read[k], Spelled[k]);
        }
        if (Same) {
            return true;
        }
    }
    return false;
}

std::vector<TLabelMatch> TLabelIndex::Find(QStringView ALine) const {
    const TFoldedText Text = FoldForMatching(ALine);
    std::vector<TLabelMatch> Matches;
    qsizetype Pos = 0;
    while (Pos < Text.Folded.size()) {
        size_t Label = 0;
        qsizetype Len = MayStartAt(Text, Pos) ? LongestAt(Text, Pos, Label) : 0;
        // In two characters one misread letter makes another word ("ID" is not "LD"); a
        // digit read for a letter ("T6") makes none.
        if (Len > 0 && FPlainSpellings[Label].front().size() <= 2 &&
            !LettersAsSpelled(ALine, Text, Pos, Len, Label)) {
            Len = 0;
        }
        if (Len > 0) {
            Matches.push_back({Text.Start[static_cast<size_t>(Pos)],
                               Text.End[static_cast<size_t>(Pos + Len - 1)], Label});
            Pos += Len;
        } else {
            ++Pos;
        }
    }
    return Matches;
}
