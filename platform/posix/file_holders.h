// Linux back end: who else has a file open. Windows refuses a share-mode-0 open of a file that any
// other process holds; Linux opens it regardless, so the file view asks first.
#pragma once

#include <sys/stat.h>

// Whether another open file description of the file exists anywhere, a mapping included: Linux
// grants a write lease only when there is none. The lease is given back at once. Unknown where
// leases are not ours to take (a file of another owner without CAP_LEASE, a file system without
// leases).
enum class Sharing { Alone, Shared, Unknown };
Sharing SharingByLease(int fd);

// Whether a process other than this one has the file open or mapped, as far as /proc shows: the
// processes of other users stay hidden from an unprivileged user.
bool HeldByAnotherProcess(const struct stat& file);
