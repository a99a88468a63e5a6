#pragma once

#include <QString>

#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// The id of a process that has ended: what a writer killed earlier looks like.
inline pid_t endedProcessId()
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

// A temporary file name as a writer with process id |pid| makes it.
inline QString temporaryNameOf(pid_t pid, unsigned serial = 1)
{
    return QStringLiteral(".~%1-%2.tmp")
        .arg(static_cast<qulonglong>(pid), 8, 16, QLatin1Char('0'))
        .arg(serial, 8, 16, QLatin1Char('0'));
}

} // namespace testsupport
