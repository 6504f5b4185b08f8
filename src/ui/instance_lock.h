// One running window per user: a lock file in the user's runtime folder.
#ifndef TARVEL_UI_INSTANCE_LOCK_H_
#define TARVEL_UI_INSTANCE_LOCK_H_

#include <QLockFile>
#include <QString>
#include <memory>

namespace tarvel {

// The lock file's path: the user's runtime folder ($XDG_RUNTIME_DIR, else a
// private folder Qt makes in the temporary folder) and the application id.
QString InstanceLockPath();

// Takes the lock at `path`; nothing when another live process holds it. A
// lock left by a process that has ended is taken over.
std::unique_ptr<QLockFile> AcquireInstanceLock(const QString& path = InstanceLockPath());

}  // namespace tarvel

#endif  // TARVEL_UI_INSTANCE_LOCK_H_
