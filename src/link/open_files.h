#pragma once
// The process's limit of open descriptors, which bounds how many connections the servers can
// hold. Start-up raises it as far as the system allows.

namespace aqled {

// Raises the soft limit of open descriptors to the hard limit; returns the soft limit in force
// afterwards, -1 when there is none or it cannot be read.
long long RaiseOpenFileLimit();

// The soft limit of open descriptors, -1 when there is none or it cannot be read.
long long OpenFileLimit();

}  // namespace aqled
