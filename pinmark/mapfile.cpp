#include "pinmark/mapfile.h"

#include "common/atomicfile.h"
#include "pinmark/formatting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace pinmark {

namespace {

char latitudeLetter(double value)
{
    return value < 0 ? 'S' : 'N';
}

char longitudeLetter(double value)
{
    return value < 0 ? 'W' : 'E';
}

// Appends whole degrees of a corner in a field of four, rounded toward minus infinity, without
// sign: the letter tells it.
void appendDegrees(QByteArray& text, double value)
{
    const double whole = std::floor(value);
    if (std::fabs(whole) < 1e15) { // digits as they stand, as formit writes them
        std::array<char, 24> field{};
        const int n =
            std::snprintf(field.data(), field.size(), "%4lld", static_cast<long long>(whole));
        std::replace(field.begin(), field.begin() + n, '-', ' ');
        text.append(field.data(), n);
        return;
    }
    text += formit(whole, 4).toLatin1().replace('-', ' ');
}

// Appends one corner's coordinate: whole degrees, zero minutes and the hemisphere's letter.
void appendCoordinate(QByteArray& text, double value, char letter)
{
    static const QByteArray minutes = formit(0, 8).toLatin1();
    appendDegrees(text, value);
    text += ',';
    text += minutes;
    text += ',';
    text += letter;
}

// Appends a calibration point line; |pixels| is the point's "x,y" part, the same in every file.
void appendPointLine(QByteArray& text, const char* point, const QByteArray& pixels, double lat,
                     double lon)
{
    text += point;
    text += ",xy,";
    text += pixels;
    text += ",in, deg,";
    appendCoordinate(text, lat, latitudeLetter(lat));
    text += ',';
    appendCoordinate(text, lon, longitudeLetter(lon));
    text += ", grid,   ,           ,           ,";
    text += latitudeLetter(lat);
    text += "\r\n";
}

QByteArray pixelPair(int x, int y)
{
    return (formit(x, 5) + u',' + formit(y, 5)).toLatin1();
}

QString emptyPointLine(int number)
{
    return QStringLiteral("Point%1,xy,     ,     ,in, deg,    ,        ,N,    ,        ,W, grid,"
                          "   ,           ,           ,N")
        .arg(number, 2, 10, QLatin1Char('0'));
}

} // namespace

QString mapFileName(const QString& imageName)
{
    return QString(imageName).remove(QStringLiteral(".gif")) + QStringLiteral(".map");
}

QString mapFilePath(const common::TileFolder& folder, const QString& imageName)
{
    return folder.pathOf(mapFileName(imageName));
}

QByteArray mapFileText(const QString& imageName, double lat, double lon, double zoom)
{
    QByteArray text;
    writeMapFileText(text, imageName, lat, lon, zoom);
    return text;
}

void writeMapFileText(QByteArray& text, const QString& imageName, double lat, double lon,
                      double zoom)
{
    // Lines 4 to 9, 12 to 39 and 41 to 51 never change.
    static const QByteArray head = QByteArrayLiteral(
        "1 ,Map Code,\r\n"
        "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\n"
        "Reserved 1\r\n"
        "Reserved 2\r\n"
        "Magnetic Variation,,,E\r\n"
        "Map Projection,(A)Lambert Azimuthual Equal Area,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No"
        "\r\n");
    static const QByteArray emptyPoints = [] {
        QByteArray lines;
        for (int point = 3; point <= 30; ++point) {
            lines += emptyPointLine(point).toLatin1() + "\r\n";
        }
        return lines;
    }();
    static const QByteArray tail =
        QByteArrayLiteral("Map Feature = MF ; Map Comment = MC     These follow if they exist\r\n"
                          "Track File = TF      These follow if they exist\r\n"
                          "Moving Map Parameters = MM?    These follow if they exist\r\n"
                          "MM0,Yes\r\n"
                          "MMPNUM,4\r\n"
                          "MMPXY,1,0,0\r\n"
                          "MMPXY,2,1999,0\r\n"
                          "MMPXY,3,1999,1999\r\n"
                          "MMPXY,4,0,1999\r\n"
                          "MOP,Map Open Position,0,0\r\n"
                          "IWH,Map Image Width/Height,1999,1999\r\n");

    const double d = zoom / 100;
    const QByteArray title =
        QString(imageName).replace(QStringLiteral(".gif"), QStringLiteral(".ozf2")).toUtf8();
    text.resize(0); // keeps what the buffer holds for the next file
    text.reserve(head.size() + emptyPoints.size() + tail.size() + 2 * title.size() + 400);
    text += "OziExplorer Map Data File Version 2.2\r\n";
    for (int copy = 0; copy < 2; ++copy) {
        text += title;
        text += "\r\n";
    }
    text += head;
    static const QByteArray pixels1 = pixelPair(290, 459);
    static const QByteArray pixels2 = pixelPair(1737, 1519);
    appendPointLine(text, "Point01", pixels1, lat + d, lon - d);
    appendPointLine(text, "Point02", pixels2, lat - d, lon + d);
    text += emptyPoints;
    text += "Projection Setup,    ";
    text += formkomma(lat).toLatin1();
    text += ",     ";
    text += formkomma(lon).toLatin1();
    text += ",,,,,,,,\r\n";
    text += tail;
}

common::Status writemapfile(const common::TileFolder& folder, const QString& imageName, double lat,
                            double lon, double zoom)
{
    return common::writeFileAtomically(mapFilePath(folder, imageName),
                                       mapFileText(imageName, lat, lon, zoom));
}

} // namespace pinmark
