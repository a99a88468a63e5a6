#pragma once

#include "qtprint.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <stdexcept>

namespace testsupport {

// A fresh temporary directory made the working directory for the lifetime of the object.
class TempWorkDir {
public:
    TempWorkDir() : previous_(QDir::currentPath())
    {
        if (!dir_.isValid() || !QDir::setCurrent(dir_.path())) {
            throw std::runtime_error("cannot enter a temporary working directory");
        }
    }
    ~TempWorkDir() { QDir::setCurrent(previous_); }
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    QString path() const { return dir_.path(); }

    // Writes |bytes| to |relativePath| (its folder must exist).
    static void write(const QString& relativePath, const QByteArray& bytes)
    {
        QFile file(relativePath);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            throw std::runtime_error("cannot write test file");
        }
    }

    // Makes the tile folder |folder| in the working directory, holding a file of |bytes| under
    // each of |names|.
    static void writeTiles(const QStringList& names, const QByteArray& bytes,
                           const QString& folder = QStringLiteral("mymaps"))
    {
        if (!QDir().mkpath(folder)) {
            throw std::runtime_error("cannot make the tile folder");
        }
        for (const QString& name : names) {
            write(folder + u'/' + name, bytes);
        }
    }

    // The names of |count| tiles in a row along 48 N, from 0 E eastwards, a degree apart.
    static QStringList tileRow(int count)
    {
        QStringList names;
        for (int lon = 0; lon < count; ++lon) {
            names.append(QStringLiteral("IDA_E_B48!00L%1!00Z45.gif").arg(lon));
        }
        return names;
    }

    static QByteArray read(const QString& relativePath)
    {
        QFile file(relativePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString previous_;
    QTemporaryDir dir_;
};

} // namespace testsupport
