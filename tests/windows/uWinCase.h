#pragma once
// Tables of cases for the Win32 layer. Plain C++ on the Windows side: the program under
// test promises Win32 and the standard library only, and so does its test.
#include <functional>
#include <string>
#include <vector>

// Collects what a case found wrong; a case that collected nothing passed.
class TWinCheck {
public:
    void That(bool ACondition, const std::string& AWhat) {
        if (!ACondition)
            FFailures.push_back(AWhat);
    }
    const std::vector<std::string>& Failures() const { return FFailures; }

private:
    std::vector<std::string> FFailures;
};

struct TWinCase {
    std::string Name;
    std::function<void(TWinCheck&)> Run;
};

std::vector<TWinCase> CryptCases();
std::vector<TWinCase> RegistryCases();
std::vector<TWinCase> ShellCases();
std::vector<TWinCase> ResourceCases();
// The cases start this program again as a later start.
std::vector<TWinCase> SingleInstanceCases();
// The later start's side: an exit code for a mode given on the command line, or -1.
int RunSingleInstanceChild(const std::string& AMode);

std::string Utf8(const std::wstring& AText);
// This program's own file.
std::wstring SelfPath();
