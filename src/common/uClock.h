#pragma once
#include <QDateTime>
#include <functional>

// "Now" for time stamps in lists and file names; tests set a fixed clock.
class TClock {
public:
    static QDateTime Now() { return Source() ? Source()() : QDateTime::currentDateTime(); }
    static void Set(std::function<QDateTime()> ASource) { Source() = std::move(ASource); }

private:
    static std::function<QDateTime()>& Source() {
        static std::function<QDateTime()> source;
        return source;
    }
};
