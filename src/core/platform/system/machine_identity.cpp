#include "core/platform/system/machine_identity.h"

#include "core/platform/files/state_file.h"

#include <QCryptographicHash>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

namespace {

bool isMachineId(QByteArrayView text)
{
    if (text.size() != 32)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

MachineIdentity MachineIdentity::ofThisProcess()
{
    MachineIdentity identity;
    identity.host = QSysInfo::machineHostName().toUtf8();
    // A missing or odd machine id (a container, say) falls back to the host name.
    const QByteArray stored = readStateFile("/etc/machine-id", 64).valueOr(QByteArray()).trimmed();
    identity.machine = isMachineId(stored)
                           ? stored
                           : QCryptographicHash::hash(identity.host, QCryptographicHash::Md5).toHex();
    identity.uid = quint32(::getuid());
    if (const passwd *entry = ::getpwuid(::getuid()))
        identity.user = QByteArray(entry->pw_name);
    else
        identity.user = QByteArray::number(identity.uid);
    return identity;
}
