#pragma once
#include <QString>

// The service's address and the account to sign in with, as the window holds them at
// the moment a task starts: the URL and e-mail trimmed, the password as typed.
struct TAccount {
    QString Url;
    QString Email;
    QString Password;

    bool IsComplete() const { return !Url.isEmpty() && !Email.isEmpty() && !Password.isEmpty(); }
};
