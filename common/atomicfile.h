#pragma once

#include <QByteArray>
#include <QString>

namespace common {

// A file written as a whole or not at all. A new file is written in place and removed again
// if writing fails; an existing file is replaced through a temporary file in its folder, so
// the rename that replaces it is atomic and a failure leaves it exactly as it was. Until
// commit() succeeds nothing of the new content remains when the object goes away.
//
// There is no flush to disk before the rename: the files are cheap to make again, and a flush
// per file would cost more than writing it.
class AtomicFile {
public:
    explicit AtomicFile(QString path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Opens for writing; false (with errorString()) when that is impossible.
    bool open();
    // Appends |bytes|; false once any write has failed.
    bool write(const QByteArray& bytes);
    // Puts the content in place. Throws common::Failure naming the file when opening, a write
    // or the replacement failed.
    void commit();

    QString errorString() const;

private:
    void discard();

    QString path_;
    QByteArray target_;
    QByteArray temporary_; // empty when writing the target in place
    bool createdInPlace_ = false;
    int fd_ = -1;
    int error_ = 0;
};

// Writes |bytes| to |path| through an AtomicFile; throws common::Failure naming the file.
void writeFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace common
