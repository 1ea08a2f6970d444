#pragma once
// Reading a new password without it ever showing: typed at the terminal with the echo off, or
// given on standard input by a script. Never on the command line, where the process list
// shows it.
#include <optional>
#include <string>

enum class TPasswordSource { Terminal, StandardInput };

// Nothing, with a message in AError, when no password could be read or the two typed at the
// terminal differ.
std::optional<std::string> ReadNewPassword(TPasswordSource ASource, const std::string& AEmail,
                                           std::string& AError);
