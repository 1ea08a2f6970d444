#pragma once
// The sending page that a phone's browser loads from the service: HTML, style and script are
// built into the program, and the page talks only to the service that served it. The server
// answers "/" and "/send" with it.
#include <string>

struct TSendPage {
    std::string Html;   // style and script inline
    std::string Policy; // the Content-Security-Policy that allows exactly those two
};

// Built on first use, then the same for every request.
const TSendPage& SendPage();
