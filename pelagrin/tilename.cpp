#include "pelagrin/tilename.h"

#include "common/numtext.h"

namespace pelagrin {

namespace {

QString fileNameText(QString text)
{
    return text.replace(u'.', u'!').remove(u' ');
}

// The zoom keeps everything but the first character of its number text: the blank of a
// positive zoom, or the sign of a negative one.
QString zoomPart(double zoom)
{
    return common::numtext(zoom).mid(1);
}

QString name(const QString& prefix, const MapSettings& s, const QString& lat, const QString& lon)
{
    return prefix + s.mapcode.left(1) + QStringLiteral("_B") + lat + u'L' + lon + u'Z' +
           zoomPart(s.zoom) + QStringLiteral(".gif");
}

} // namespace

QString regionCoordinate(double value)
{
    const QString text = common::numtext(value);
    const qsizetype point = text.indexOf(u'.');
    // An integral value has no point and is kept whole: cutting after the second decimal
    // changes nothing in it.
    const QString cut = point < 0 ? text : text.left(point + 3);
    return fileNameText(cut);
}

QString regionTileName(const MapSettings& s)
{
    return name(QStringLiteral("IDA_"), s, regionCoordinate(s.centre.latitude),
                regionCoordinate(s.centre.longitude));
}

QString singleImageName(const MapSettings& s)
{
    return name(QStringLiteral("ID_"), s, fileNameText(common::numtext(s.centre.latitude)),
                fileNameText(common::numtext(s.centre.longitude)));
}

} // namespace pelagrin
