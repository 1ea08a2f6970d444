#pragma once
#include <QString>
#include <functional>

class QWidget;

// Every message box goes through here, so tests can answer it instead of blocking.
namespace Messages {

using THandler = std::function<void(QWidget* AParent, const QString& AText)>;
using TConfirmHandler = std::function<bool(QWidget* AParent, const QString& AText)>;

// A modal box titled with the application title, no icon, one OK button.
void Show(QWidget* AParent, const QString& AText);
// Replaces the boxes (tests); an empty handler restores them.
void SetHandler(THandler AHandler);

// A modal Yes/No question titled like the boxes above; true for Yes.
bool Confirm(QWidget* AParent, const QString& AText);
// Replaces the question (tests); an empty handler restores it.
void SetConfirmHandler(TConfirmHandler AHandler);

} // namespace Messages
