// Set-up failures travel as exceptions up to main(), which prints them and
// exits with status 1.
#pragma once

#include <string>

// Throws std::runtime_error("WHAT: <strerror(errno)>").
[[noreturn]] void ThrowErrno(const std::string& what);
