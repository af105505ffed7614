#include "platform/lockfile.h"

namespace ostrelle {

bool TryLockFile(QLockFile& lock)
{
#if defined(Q_OS_WIN)
    // A holder keeps its lock file open without leave to delete it, so the file can be removed only
    // once its holder is gone. The process id inside says less: Windows hands a dead copy's id to a
    // new process, perhaps another copy of this program, and then the lock looks held for ever.
    lock.removeStaleLockFile();
#endif
    return lock.tryLock();
}

} // namespace ostrelle
