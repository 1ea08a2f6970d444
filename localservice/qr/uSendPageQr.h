#pragma once
// The sending page's address as a QR code drawn in the terminal, so that a phone is paired by
// pointing its camera at it instead of having the address typed in.
#include <ostream>
#include <string>
#include <vector>

// The lines that draw AText as a QR code (error correction M) in Unicode half blocks, two
// module rows to a line, with a quiet zone of 4 modules; every line has as many characters as
// the code with its quiet zone is wide. Empty when AText does not fit in a QR code.
std::vector<std::string> QrCodeLines(const std::string& AText);

// Prints AUrl on a line of its own and its QR code below. False, with nothing printed, when
// AUrl does not fit in a QR code.
bool PrintSendPageQr(std::ostream& AOut, const std::string& AUrl);

// Whether AHost stands for every address of this machine: 0.0.0.0, ::, or empty (none given).
bool IsWildcardHost(const std::string& AHost);

// The first of AAddresses (IPv4, in the system's order) that a phone on the clinic's network
// can reach: neither loopback nor link-local. Empty when there is none.
std::string PhoneReachableAddress(const std::vector<std::string>& AAddresses);

// The IPv4 addresses of this machine's interfaces that are up, in the system's order.
std::vector<std::string> InterfaceAddresses();

// The sending page of a service that listens on AHost:APort: "http(s)://HOST:PORT/", where a
// wildcard host becomes PhoneReachableAddress(InterfaceAddresses()). Empty when the host is a
// wildcard and this machine has no such address.
std::string SendPageUrl(const std::string& AHost, int APort, bool AHttps);

// What the service prints at start on AOut: nothing when it listens on loopback alone, which no
// phone reaches; else the sending page's address and its code, or why there is no code.
void ShowSendPageQr(std::ostream& AOut, const std::string& AHost, int APort, bool AHttps);
