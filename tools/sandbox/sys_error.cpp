#include "sys_error.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

void ThrowErrno(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }
