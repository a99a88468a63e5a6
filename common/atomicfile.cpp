#include "common/atomicfile.h"

#include "common/errortext.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace common {

AtomicFile::AtomicFile(const QString& path)
    : path_(path), file_(QFile::encodeName(path).toStdString())
{}

Status namedFailure(const QString& path, const Status& status)
{
    if (status) {
        return {};
    }
    return makeError(ErrorKind::Permanent,
                     QStringLiteral("The file %1 could not be written: %2")
                         .arg(path, QString::fromStdString(status.error().text)));
}

Status AtomicFile::commit()
{
    return namedFailure(path_, file_.commit());
}

QString AtomicFile::errorString() const
{
    return file_.error() ? QString::fromStdString(file_.error()->text) : QString();
}

Status writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    AtomicFile file(path);
    file.open();
    file.write(bytes);
    return file.commit();
}

bool isTemporaryName(const QString& fileName)
{
    const QByteArray name = QFile::encodeName(fileName);
    return isTemporaryName(
        std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
}

int removeStaleTemporaries(const QString& folder)
{
    // Read straight from the directory: the folder may hold many thousand tiles.
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr) {
        return 0;
    }
    const int dirFd = ::dirfd(dir);
    int removed = 0;
    // readdir is safe here: the directory stream belongs to this call alone.
    while (const dirent* entry = ::readdir(dir)) { // NOLINT(concurrency-mt-unsafe)
        if (entry->d_name[0] == '.' && entry->d_name[1] == '~' &&
            isStaleTemporary(dirFd, entry->d_name) && ::unlinkat(dirFd, entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

Status folderWritable(const QString& folder)
{
    AtomicFile probe(folder + QStringLiteral("/probe"));
    probe.open();
    if (!probe.ok()) {
        return makeError(ErrorKind::Permanent, probe.errorString());
    }
    probe.discard();
    return {};
}

} // namespace common
