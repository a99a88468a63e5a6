#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace common {

// A file that appears under its name only when it is whole. The content goes to a temporary
// file in the target's folder, is flushed to disk and then renamed over the target, so at any
// moment (a failure, a kill, a power cut) the target is either its old self or, for a new
// file, absent. Until commit() succeeds nothing of the new content remains when the object
// goes away.
//
// Temporary names are ".~<pid>-<serial>.tmp" with the writing process's id and a serial, both
// as 8 hex digits: hidden, 23 characters whatever the target's name (so a target name that
// fits the file system fits as a temporary too), and never a "*.gif" or "*.map" that a reader
// would pick up. The writer holds an exclusive lock on its temporary file until the rename.
//
// Errors are sticky: after the first failure open() and write() do nothing, and commit() is
// the one place that reports it. Not QSaveFile: its temporary names grow with the target's
// (a 250-character tile name would not fit) and carry no process id and no lock, so a leftover
// of a killed writer could not be told from the file of one that still runs.
class AtomicFile {
public:
    explicit AtomicFile(QString path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file.
    void open();
    // Appends |bytes|.
    void write(const QByteArray& bytes);
    // Whether nothing has failed so far (errorString() says what did).
    bool ok() const { return error_ == 0; }
    // Puts the content in place. An error naming the file when opening, a write, the flush or
    // the replacement failed.
    Status commit();
    // Drops what was written; the target stays as it was.
    void discard();

    QString errorString() const;

private:
    QString path_;
    QByteArray target_;
    QByteArray temporary_; // empty when nothing is open
    int fd_ = -1;
    int error_ = 0;
};

// Writes |bytes| to |path| through an AtomicFile; an error names the file.
Status writeFileAtomically(const QString& path, const QByteArray& bytes);

// A new temporary name beside |target| of the form AtomicFile uses, for files another library
// writes (an export through GDAL): the writer creates and locks the file of this name itself
// and lets the library write to names that append to it (".out", ".out.ovr.tmp", ...).
QString temporaryPathFor(const QString& target);

// Whether |fileName| (without folder) has the form of an AtomicFile's temporary name, or of one
// with a suffix appended.
bool isTemporaryName(const QString& fileName);

// Removes from |folder| the temporary files of writers that no longer run: those whose process
// is gone and whose lock nobody holds (for a name with a suffix: the lock of the name without
// it). The temporary files of this process and of any writer still running stay. Returns how
// many were removed.
int removeStaleTemporaries(const QString& folder);

// Whether a file can be created in |folder| (tried by creating and removing a temporary file);
// the error's text is the system's reason when it cannot.
Status folderWritable(const QString& folder);

} // namespace common
