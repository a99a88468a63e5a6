#pragma once

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

namespace bench {

// A benchmark of whole windows: an offscreen application working in a temporary directory of
// its own (under $TMPDIR), removed at the end.
class OffscreenRun {
public:
    OffscreenRun(int& argc, char** argv)
        : app_((qputenv("QT_QPA_PLATFORM", "offscreen"), argc), argv)
    {
        QDir::setCurrent(work_.path());
    }
    QString path() const { return work_.path(); }

private:
    QApplication app_;
    QTemporaryDir work_;
};

} // namespace bench
