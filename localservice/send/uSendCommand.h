#pragma once
// "scanlume-local send": signs in and sends files and texts, as the phone app does.
#include <string>
#include <vector>

// Returns the process exit code: 0 when every item was sent, 1 when the service refused or
// could not be reached, 2 for a bad command line.
int RunSendCommand(const std::vector<std::string>& AArgs);

// The media type for a file name's extension; application/octet-stream when unknown.
std::string GuessContentType(const std::string& APath);
