#pragma once
#include <QString>
#include <QTemporaryDir>

// Points HOME, the XDG folders and XDG_RUNTIME_DIR at a fresh temporary folder,
// so no test ever reads or writes a real user's files. Restores nothing: every
// test program is its own process.
class TTestEnv {
public:
    TTestEnv();
    QString Root() const { return FDir.path(); }
    QString ConfigHome() const;
    QString RuntimeDir() const;
    QString PicturesDir() const;
    QString DocumentsDir() const;

private:
    QTemporaryDir FDir;
};
