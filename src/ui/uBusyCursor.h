#pragma once
#include <QCursor>
#include <QGuiApplication>

// The busy (hourglass) cursor for as long as it lives, restored on every way out,
// exceptions included.
class TBusyCursor {
public:
    TBusyCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};
