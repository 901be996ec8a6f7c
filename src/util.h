// The one way out for fatal errors: each names its exit status on standard
// error before the process ends.
#ifndef LOPWORT_UTIL_H
#define LOPWORT_UTIL_H

[[noreturn]] void outofmemory();
[[noreturn]] void error_exit(int code);

#endif
