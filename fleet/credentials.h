#pragma once
// The broker's user name and password, read from a file only its owner may read: the first line
// is the user name, the second the password (a trailing newline is optional). Secrets never
// come from the command line, where any user sees them in the process list.
#include <string>

#include "fleet/decoded.h"

namespace kvx::fleet {

struct Credentials {
    std::string user;
    std::string password;
};

// Refused when the file is not a regular file, when its group or others may read or write it,
// or when it does not hold a user name and a password.
Decoded<Credentials> readCredentialsFile(const std::string& path);

}  // namespace kvx::fleet
