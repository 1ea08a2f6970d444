#pragma once
// "scanlume-local certificate": makes, in one folder, a certificate authority of the clinic's
// own (ca.pem, ca.key), kept and reused on later runs so that phones and PCs that trust it go on
// trusting, and a server certificate signed by it (cert.pem, key.pem) that names this machine:
// its host name, name.local, localhost, 127.0.0.1, ::1, its network addresses, and any names
// and addresses given. Keys are written readable by the owner alone.
#include <string>
#include <vector>

// Returns the process exit code: 0 when the files were written, 1 when they could not be,
// 2 for a bad command line.
int RunCertificateCommand(const std::vector<std::string>& AArgs);
