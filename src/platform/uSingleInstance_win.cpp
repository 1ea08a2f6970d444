#include "platform/uSingleInstance.h"
#include "platform/uWinSingleInstance.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <windows.h>

// The show-me message arrives as a broadcast window message; a native event filter
// sees it before the standard processing, which still runs afterwards.
struct TSingleInstance::TImpl : QAbstractNativeEventFilter {
    TSingleInstance* Owner = nullptr;
    bool nativeEventFilter(const QByteArray&, void* AMessage, qintptr*) override {
        const MSG* msg = static_cast<const MSG*>(AMessage);
        const UINT id = WinSingleInstance::ShowMeMessage();
        if (id != 0 && msg->message == id)
            Q_EMIT Owner->ShowMeRequested();
        return false;
    }
};

TSingleInstance::TSingleInstance() : FImpl(std::make_unique<TImpl>()) {
    FImpl->Owner = this;
}
TSingleInstance::~TSingleInstance() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(FImpl.get());
}

TSingleInstance::TRole TSingleInstance::Claim() {
    return WinSingleInstance::Claim() == WinSingleInstance::Role::Second ? TRole::Second
                                                                         : TRole::First;
}

void TSingleInstance::Listen() {
    QCoreApplication::instance()->installNativeEventFilter(FImpl.get());
}

void TSingleInstance::Release() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(FImpl.get());
    WinSingleInstance::Release();
}

void BringWindowToFront(quintptr ANativeWindow) {
    // Windows lets a program take the foreground only through these calls.
    WinSingleInstance::BringToFront(reinterpret_cast<void*>(ANativeWindow));
}
