#include "ui/instance_lock.h"

#include <QStandardPaths>

namespace tarvel {

QString InstanceLockPath() {
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
         QStringLiteral("/io.github.tarvel.Tarvel.lock");
}

std::unique_ptr<QLockFile> AcquireInstanceLock(const QString& path) {
  auto lock = std::make_unique<QLockFile>(path);
  // Only a dead holder makes a lock stale, never its age: a window may stay
  // open for days.
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0)) return nullptr;
  return lock;
}

}  // namespace tarvel
