// Choosing among a folder's tiles: by zoom, map type and source, refused with what the folder
// holds where the choice is not one of each.
#include "common/errortext.h"
#include "mapexport/tiles.h"

#include <QStringList>

#include <map>
#include <set>
#include <utility>

namespace mapexport {

namespace {

// " Sources: ID (credit, N tiles), ..." for tiles of more than one source; else nothing.
QString sourcesOf(const std::vector<Tile>& tiles)
{
    std::map<QString, std::pair<QString, int>> sources; // credit and count by source
    for (const Tile& tile : tiles) {
        auto& [credit, count] = sources[tile.source];
        if (credit.isEmpty()) {
            credit = tile.credit;
        }
        ++count;
    }
    if (sources.size() < 2) {
        return {};
    }
    QStringList lines;
    for (const auto& [source, about] : sources) {
        lines.append(
            QStringLiteral("%1 (%2%3 tiles)")
                .arg(source.isEmpty() ? QStringLiteral("none recorded") : source,
                     about.first.isEmpty() ? QString() : about.first + QStringLiteral(", "))
                .arg(about.second));
    }
    return QStringLiteral(" Sources: ") + lines.join(QStringLiteral(", ")) + u'.';
}

QString numberList(const std::set<double>& values)
{
    QStringList texts;
    for (const double value : values) {
        texts.append(QString::number(value, 'g', 12));
    }
    return texts.join(QStringLiteral(", "));
}

} // namespace

QString creditOf(const std::vector<Tile>& tiles)
{
    QStringList credits;
    for (const Tile& tile : tiles) {
        if (!tile.credit.isEmpty() && !credits.contains(tile.credit)) {
            credits.append(tile.credit);
        }
    }
    return credits.join(QStringLiteral("; "));
}

common::Result<std::vector<Tile>> chooseTiles(const std::vector<Tile>& tiles, const Choice& choice)
{
    std::set<double> zooms;
    std::set<double> types;
    std::vector<Tile> chosen;
    for (const Tile& tile : tiles) {
        zooms.insert(tile.zoom);
        types.insert(tile.mapType);
        if ((!choice.zoom || *choice.zoom == tile.zoom) &&
            (!choice.mapType || *choice.mapType == tile.mapType) &&
            (!choice.source || *choice.source == tile.source)) {
            chosen.push_back(tile);
        }
    }
    const QString holds = QStringLiteral("The folder holds tiles of zoom %1 and map type %2.")
                              .arg(numberList(zooms), numberList(types));
    if (tiles.empty()) {
        return common::notFound("The folder holds no tiles.", 1);
    }
    if (chosen.empty()) {
        return common::makeError(
            common::ErrorKind::NotFound,
            QStringLiteral("No tile is of the zoom, map type and source asked for. ") + holds +
                sourcesOf(tiles),
            1);
    }
    std::set<double> chosenZooms;
    std::set<double> chosenTypes;
    for (const Tile& tile : chosen) {
        chosenZooms.insert(tile.zoom);
        chosenTypes.insert(tile.mapType);
    }
    if (chosenZooms.size() > 1 || chosenTypes.size() > 1) {
        return common::makeError(
            common::ErrorKind::BadInput,
            holds + QStringLiteral(" Choose one zoom with --zoom and one map type with --type."),
            2);
    }
    std::set<QString> chosenSources;
    for (const Tile& tile : chosen) {
        chosenSources.insert(tile.source);
    }
    if (chosenSources.size() > 1) {
        return common::makeError(common::ErrorKind::BadInput,
                                 QStringLiteral("The tiles of zoom %1 and map type %2 were drawn "
                                                "by different sources, which one file must not "
                                                "mix.")
                                         .arg(*chosenZooms.begin())
                                         .arg(*chosenTypes.begin()) +
                                     sourcesOf(chosen) +
                                     QStringLiteral(" Choose one with --source-id."),
                                 2);
    }
    return chosen;
}

} // namespace mapexport
