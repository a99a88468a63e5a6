#include "pelagrin/requesturl.h"

#include "common/numtext.h"

namespace pelagrin {

using common::numtext;

void correctMapcode(MapSettings& s)
{
    if (s.longitude > -150 && s.longitude < -30 && s.mapcode == mapcodeType1) {
        s.mapcode = mapcodeAmerica;
    }
    if (s.longitude > -30 && s.mapcode == mapcodeAmerica) {
        s.mapcode = mapcodeType1;
    }
}

QString generateurl(MapSettings& s, int mode, const QString& host)
{
    correctMapcode(s);
    QString size;
    if (mode == modeLarge) {
        size = QStringLiteral("1999,1999");
    } else if (mode == modePreview) {
        size = QStringLiteral("320,320");
    } else {
        return {};
    }
    return QStringLiteral("http://") + host + QStringLiteral("/pub/agent.dll?qscr=mrdt&ID=7QbRk.") +
           QStringLiteral("&CenP=") + numtext(s.latitude) + u',' + numtext(s.longitude) +
           QStringLiteral("&Lang=") + s.mapcode + QStringLiteral("&Alti=") + numtext(s.zoom) +
           QStringLiteral("&Size=") + size + QStringLiteral("&Offs=") + numtext(s.offsx) + u',' +
           numtext(s.offsy) + QStringLiteral("&MapS=0&Pins=|2ccf|");
}

} // namespace pelagrin
