#pragma once
#include <QColor>
#include <QLabel>
#include <QString>

// The main window's status line: its colour tells the kind of message.
namespace StatusLine {

inline const QColor Navy{0, 0, 128};   // working
inline const QColor Green{0, 128, 0};  // success, or a connected worker
inline const QColor Maroon{128, 0, 0}; // failure, empty result, worker not connected

inline void Set(QLabel* ALabel, const QString& AText, const QColor& AColor) {
    ALabel->setText(AText);
    QPalette pal = ALabel->palette();
    pal.setColor(QPalette::WindowText, AColor);
    ALabel->setPalette(pal);
}

} // namespace StatusLine
