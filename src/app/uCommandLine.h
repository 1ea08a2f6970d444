#pragma once
#include <optional>

// Answers --help and --version on standard output, without a window or a display, before the
// program claims its single instance. Returns the exit code when the program should end there;
// any other argument (Qt's own, such as -platform) is left to the application.
std::optional<int> AnswerCommandLine(int AArgc, char* AArgv[]);
