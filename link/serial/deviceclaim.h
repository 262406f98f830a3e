#pragma once

#include <QByteArray>
#include <QString>

namespace ombrix {

// PID a serial lock file names, in any of the forms programs write: Qt's
// (PID, application, host on separate lines), the ASCII one (PID right-aligned
// in ten characters and a newline) or the binary one (a native 4-byte PID).
// 0 when the contents name no process.
qint64 lockFileOwner(const QByteArray &contents);

// Makes sure no other program holds a serial device before it is opened, and
// afterwards puts an advisory lock on the descriptor the port opened, so that
// programs that look for one see the port as busy.
//
// A device counts as held when a lock file in the system's lock folder names
// a live process, when another descriptor holds an advisory lock (flock) on
// it, or when it is in exclusive mode (even for root, whom the kernel would
// let past). Nothing of the holder's is touched: its lock file stays, and the
// device's settings are not changed, since the check opens the device only
// to look. A lock file naming a process that is gone is removed.
//
// Unix only; on Windows the system refuses a second open by itself.
class DeviceClaim
{
public:
    explicit DeviceClaim(const QString &device);
    ~DeviceClaim();

    DeviceClaim(const DeviceClaim &) = delete;
    DeviceClaim &operator=(const DeviceClaim &) = delete;

    // Empty when the device exists and no other program holds it; else why
    // it cannot be taken. A missing device is reported before any lock file
    // is looked at.
    QString check();

    // After a successful check and open: moves the advisory lock onto the
    // port's own descriptor. Empty on success.
    QString lock(int portDescriptor);

private:
    QString checkLockFiles() const;

    QByteArray m_path;
    int m_probe = -1;
};

} // namespace ombrix
