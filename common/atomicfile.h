#pragma once

#include "common/result.h"
#include "common/wholefile.h"

#include <QByteArray>
#include <QString>

namespace common {

// A WholeFile for the windows' Qt paths and bytes (see common/wholefile.h): the content
// appears under |path| only when it is whole and on the disk.
class AtomicFile {
public:
    explicit AtomicFile(const QString& path);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file.
    void open() { file_.open(); }
    // Appends |bytes|.
    void write(const QByteArray& bytes)
    {
        file_.write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    // Whether nothing has failed so far (errorString() says what did).
    bool ok() const { return file_.ok(); }
    // Puts the content in place. An error naming the file when opening, a write, the flush or
    // the replacement failed.
    Status commit();
    // Drops what was written; the target stays as it was.
    void discard() { file_.discard(); }

    QString errorString() const;

private:
    QString path_;
    WholeFile file_;
};

// |status| as it is, or its error as one that names |path|, a file that could not be written.
Status namedFailure(const QString& path, const Status& status);

// Writes |bytes| to |path| through an AtomicFile; an error names the file.
Status writeFileAtomically(const QString& path, const QByteArray& bytes);

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
