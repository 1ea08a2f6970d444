#include "admin/uPasswordPrompt.h"

#include <iostream>

#include <termios.h>
#include <unistd.h>

namespace {

// One line from standard input with the terminal's echo off; nothing at end of input.
std::optional<std::string> ReadHidden(const char* APrompt) {
    std::cerr << APrompt << std::flush;
    termios Saved{};
    const bool Terminal = tcgetattr(STDIN_FILENO, &Saved) == 0;
    if (Terminal) {
        termios Hidden = Saved;
        Hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &Hidden);
    }
    std::string Line;
    const bool Read = static_cast<bool>(std::getline(std::cin, Line));
    if (Terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &Saved);
        std::cerr << "\n";
    }
    if (!Read) {
        return std::nullopt;
    }
    return Line;
}

} // namespace

std::optional<std::string> ReadNewPassword(TPasswordSource ASource, const std::string& AEmail,
                                           std::string& AError) {
    std::string Password;
    if (ASource == TPasswordSource::StandardInput) {
        if (!std::getline(std::cin, Password)) {
            AError = "no password on standard input";
            return std::nullopt;
        }
        // A file written on Windows ends its line with CR LF.
        if (!Password.empty() && Password.back() == '\r') {
            Password.pop_back();
        }
    } else {
        if (isatty(STDIN_FILENO) == 0) {
            AError = "no terminal to type the password at; give it on standard input with "
                     "--password-stdin";
            return std::nullopt;
        }
        const std::string Prompt = "New password for " + AEmail + ": ";
        const auto First = ReadHidden(Prompt.c_str());
        const auto Second = First ? ReadHidden("The same again: ") : std::nullopt;
        if (!First || !Second) {
            AError = "no password typed";
            return std::nullopt;
        }
        if (*First != *Second) {
            AError = "the two passwords differ; nothing was changed";
            return std::nullopt;
        }
        Password = *First;
    }
    if (Password.size() < 8) {
        AError = "the password needs at least 8 characters";
        return std::nullopt;
    }
    return Password;
}
