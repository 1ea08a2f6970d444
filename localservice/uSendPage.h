#pragma once
// The sending page that a phone's browser loads from the service: HTML, style and script are
// built into the program, and the page talks only to the service that served it.
#include "uHttp.h"

// Answers "/" and "/send" (GET and HEAD give the page, other methods 405); false for any
// other path.
bool ServeSendPage(const TRequest& ARequest, httplib::Response& ARes);
