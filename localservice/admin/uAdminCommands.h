#pragma once
// The commands a clinic's administrator runs on the service's data folder, also while the
// service runs:
//   scanlume-local user add|passwd [--data DIR] [--password-stdin] EMAIL
//   scanlume-local user remove [--data DIR] [--discard-items] EMAIL
//   scanlume-local user list [--data DIR]
//   scanlume-local backup [--data DIR] FILE
// Each returns the process's exit code: 0 done, 1 failed, 2 bad command line.
#include <string>
#include <vector>

int RunUserCommand(const std::vector<std::string>& AArgs);
int RunBackupCommand(const std::vector<std::string>& AArgs);
