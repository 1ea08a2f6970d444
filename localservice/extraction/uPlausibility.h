#pragma once
// Whether a value read from a report can be handed on as the printed one. A wrong number in a
// patient's chart is worse than a gap, so a value that is not sure gives no value at all.
#include <QString>

#include <optional>

#include "extraction/uCatalog.h"

struct TValueVerdict {
    enum class TKind {
        Stands,   // the value as read
        Restored, // a lost decimal point put back: Value holds the value as printed
        Unsure,   // no value
    };
    TKind Kind = TKind::Stands;
    QString Value;
};

// AValue as read (a comparator and thousands separators allowed), AUnit and AReference as the
// report prints them ("0.46-0.79", "≦60", empty when unread), and the digits of the reference
// range as the line printed them even when it could not be read whole ("(3.G-4.8)"): what the
// layout shows of the test's decimals.
// AFlag is the flag read for the value ("H", "L" or empty).
TValueVerdict CheckValue(const TExtractItem& AItem, const QString& AValue, const QString& AUnit,
                         const QString& AReference, int ALayoutDecimals,
                         const QString& AFlag = QString());
