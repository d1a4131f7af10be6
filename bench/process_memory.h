#pragma once

#include <QFile>
#include <QList>

#include <unistd.h>

// The process's resident memory now, in MB (10^6 bytes); -1 when it cannot be read.
inline double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1
        ? double(fields[1].toLongLong()) * double(::sysconf(_SC_PAGESIZE)) / 1e6
        : -1;
}
