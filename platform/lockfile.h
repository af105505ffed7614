#pragma once

#include <QLockFile>

namespace ostrelle {

// QLockFile::tryLock, but on Windows a lock whose holder has ended is taken over even when its
// process id now belongs to a live process.
bool TryLockFile(QLockFile& lock);

} // namespace ostrelle
