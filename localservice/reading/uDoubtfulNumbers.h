#pragma once
// Per line of a recognised text: the numbers on it ("0.21", "4,200") whose digits the readings
// did not all read alike, or where some reading saw a digit more or fewer. Such a number is a
// guess, and extraction hands on no value read from it.
#include <string>
#include <vector>

using TDoubtfulNumbers = std::vector<std::vector<std::string>>;
