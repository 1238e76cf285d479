#pragma once
#include <QByteArray>
#include <QtGlobal>

// Who writes into a backup location that several machines and users may
// share: this machine (its systemd machine id, else a number made from its
// host name) and this user.
struct MachineIdentity
{
    QByteArray machine; // 32 hexadecimal digits
    QByteArray host;
    QByteArray user;
    quint32 uid = 0;

    static MachineIdentity ofThisProcess();
};
