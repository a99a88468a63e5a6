#include "pelagrin/requesturl.h"

#include "common/numtext.h"

namespace pelagrin {

using common::numtext;

QString correctedMapcode(const QString& mapcode, double longitude)
{
    QString code = mapcode;
    if (longitude > -150 && longitude < -30 && code == mapcodeType1) {
        code = mapcodeAmerica;
    }
    if (longitude > -30 && code == mapcodeAmerica) {
        code = mapcodeType1;
    }
    return code;
}

void correctMapcode(MapSettings& s)
{
    s.mapcode = correctedMapcode(s.mapcode, s.centre.longitude);
}

QString generateurl(const MapSettings& s, int mode, const QString& host)
{
    QString size;
    if (mode == modeLarge) {
        size = QStringLiteral("%1,%1").arg(largeSide);
    } else if (mode == modePreview) {
        size = QStringLiteral("%1,%1").arg(previewSide);
    } else {
        return {};
    }
    return QStringLiteral("http://") + host + QStringLiteral("/pub/agent.dll?qscr=mrdt&ID=7QbRk.") +
           QStringLiteral("&CenP=") + numtext(s.centre.latitude) + u',' +
           numtext(s.centre.longitude) + QStringLiteral("&Lang=") +
           correctedMapcode(s.mapcode, s.centre.longitude) + QStringLiteral("&Alti=") +
           numtext(s.zoom) + QStringLiteral("&Size=") + size + QStringLiteral("&Offs=") +
           numtext(s.offsx) + u',' + numtext(s.offsy) + QStringLiteral("&MapS=0&Pins=|2ccf|");
}

} // namespace pelagrin
