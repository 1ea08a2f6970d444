#pragma once
// Lab values for the lab table's tests: rows as one test-data cell, and the table's head.
#include "service/uApiClient.h"

#include <QList>
#include <QMetaType>
#include <QString>

struct TLabRows {
    QList<TLabValue> Values;
};
Q_DECLARE_METATYPE(TLabRows)

inline TLabValue V(const QString& AName, const QString& AValue, const QString& AUnits,
                   const QString& AReference = QString(), const QString& AFlag = QString()) {
    return TLabValue{AName, AValue, AUnits, AReference, AFlag};
}

inline TLabRows Rows(std::initializer_list<TLabValue> AValues) {
    return TLabRows{AValues};
}

// Lines 1 to 4 of the lab table text.
inline QString Head(const QString& AExamDate, const QString& AInstitution) {
    return QStringLiteral("検査実施日\t") + AExamDate + QStringLiteral("\r\n検査医療機関\t") +
           AInstitution + QStringLiteral("\r\n\r\n項目\t検査値\t単位\r\n");
}

// HbA1c 6.2 %, AST without a value, ALT 25 U/L: two present values.
inline QList<TLabValue> ExampleValues() {
    return {V(QStringLiteral("HbA1c"), QStringLiteral("6.2"), QStringLiteral("%")),
            V(QStringLiteral("AST"), QString(), QStringLiteral("U/L")),
            V(QStringLiteral("ALT"), QStringLiteral("25"), QStringLiteral("U/L"))};
}
