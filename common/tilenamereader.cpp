#include "common/tilenamereader.h"

#include "common/numvalue.h"

namespace common {

namespace {

// A field as the downloader writes it: optional sign, digits and at most one point ("!").
std::optional<double> field(QString text)
{
    text.replace(u'!', u'.');
    qsizetype i = (!text.isEmpty() && (text[0] == u'-' || text[0] == u'+')) ? 1 : 0;
    int digits = 0;
    int points = 0;
    for (; i < text.size(); ++i) {
        if (text[i] >= u'0' && text[i] <= u'9') {
            ++digits;
        } else if (text[i] == u'.' && points == 0) {
            ++points;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return numvalue(text);
}

} // namespace

std::optional<TileCentre> readTileName(const QString& fileName)
{
    const qsizetype b = fileName.indexOf(u'B');
    const qsizetype l = fileName.indexOf(u'L');
    const qsizetype z = fileName.indexOf(u'Z');
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (b < 0 || l < b || z < l || dot < z) {
        return std::nullopt;
    }
    const auto latitude = field(fileName.mid(b + 1, l - b - 1));
    const auto longitude = field(fileName.mid(l + 1, z - l - 1));
    const auto zoom = field(fileName.mid(z + 1, dot - z - 1));
    if (!latitude || !longitude || !zoom) {
        return std::nullopt;
    }
    return TileCentre{{*latitude, *longitude}, *zoom};
}

} // namespace common
