#pragma once
// "scanlume-local qr": prints the sending page's address and draws it as a QR code, for the
// staff to pair a phone with the service by pointing its camera at the terminal.
#include <string>
#include <vector>

// Returns the process exit code: 0 when the code was printed, 1 when this machine has no
// address a phone can reach, 2 for a bad command line.
int RunQrCommand(const std::vector<std::string>& AArgs);
