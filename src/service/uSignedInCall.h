#pragma once
#include "common/uErrors.h"
#include "service/uApiClient.h"

#include <QString>

// A service call with the sign-in rules: sign in when there is no token; call; when the
// answer refuses the token (401 or 403, whatever its text), sign in once more and call
// once more, never more. ACall(AError) makes the call, clearing its own outputs first.
// Transport failures and anything else raised end it with the error's message. Runs on
// any thread, on a client no one else uses at the time.
template <class TCall>
bool SignedInCall(TApiClient& AApi, const QString& AEmail, const QString& APassword,
                  QString& AError, TCall ACall) {
    bool ok = false;
    try {
        if (AApi.Token().isEmpty()) {
            QString loginError;
            if (!AApi.Login(AEmail, APassword, loginError))
                AError = QStringLiteral("ログイン失敗: ") + loginError;
        }
        if (!AApi.Token().isEmpty()) {
            AError.clear();
            ok = ACall(AError);
            if (!ok && AApi.TokenRefused()) {
                // The service forgot the token (it restarted, or it expired).
                QString ignored;
                if (AApi.Login(AEmail, APassword, ignored)) {
                    AError.clear();
                    ok = ACall(AError);
                }
            }
        }
    } catch (const std::exception& e) {
        ok = false;
        AError = ErrorMessage(e);
    } catch (...) {
        ok = false;
        AError = QStringLiteral("不明なエラー");
    }
    return ok;
}
