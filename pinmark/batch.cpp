#include "pinmark/batch.h"

#include "common/atomicfile.h"
#include "common/errortext.h"
#include "common/groupcommit.h"
#include "common/tilenamereader.h"
#include "pinmark/mapfile.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <memory>

namespace pinmark {

namespace {

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control;
}

} // namespace

BatchResult runBatch(const common::TileFolder& folder, const QStringList& names,
                     const std::function<void(int)>& progress, common::DurableCalls& calls)
{
    BatchResult result;
    QSet<QString> mapFiles;
    // The files go to the disk in groups; each counts as written once its group is there.
    common::GroupCommit group(calls);
    QByteArray text;
    for (const QString& name : names) {
        // A line break in a name would break the calibration file's lines.
        const bool control = std::any_of(name.begin(), name.end(), isControl);
        const auto centre = control ? std::nullopt : common::readTileName(name);
        if (!centre) {
            QString shown = name;
            std::replace_if(shown.begin(), shown.end(), isControl, u'?');
            result.skipped.append(shown);
            continue;
        }
        const QString mapFile = mapFileName(name);
        if (mapFiles.contains(mapFile)) {
            result.clashed.append(name + QStringLiteral(" (") + mapFile + u')');
            continue;
        }
        mapFiles.insert(mapFile);
        const QString path = mapFilePath(folder, name);
        auto file = std::make_unique<common::WholeFile>(QFile::encodeName(path).toStdString());
        file->open();
        writeMapFileText(text, name, centre->latitude, centre->longitude, centre->zoom);
        file->write(text.constData(), static_cast<std::size_t>(text.size()));
        group.add(std::move(file), {},
                  [&result, &progress, name, path](const common::Status& placed,
                                                   const std::vector<common::Status>&) {
                      if (const common::Status named = common::namedFailure(path, placed); !named) {
                          result.failed.append(name + QStringLiteral(": ") +
                                               common::errorText(named.error()));
                          return;
                      }
                      ++result.written;
                      progress(result.written);
                  });
        if (group.size() >= common::groupSets ||
            std::chrono::steady_clock::now() - group.oldest() >= common::groupWait) {
            group.commit();
        }
    }
    group.commit();
    return result;
}

} // namespace pinmark
