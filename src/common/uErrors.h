#pragma once
#include <QString>
#include <exception>
#include <string>

// The one exception type the core raises. It carries the message the user sees,
// unchanged, as the owners put it into status texts and message boxes.
class TAppError : public std::exception {
public:
    explicit TAppError(QString AMessage)
        : FMessage(std::move(AMessage)), FUtf8(FMessage.toStdString()) {}
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.c_str(); }

private:
    QString FMessage;
    std::string FUtf8;
};

// A failure of the HTTP layer: no connection, name resolution, TLS, time-out, a
// broken or oversized body.
class TTransportError : public TAppError {
public:
    using TAppError::TAppError;
};

// Message of any exception an owner catches, for its status texts.
QString ErrorMessage(const std::exception& AError);
