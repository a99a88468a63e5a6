#pragma once

// Tiles of smooth colours for the map service's tests and benchmarks: every point's colour follows
// from its Web Mercator metres, so that tiles of any grid, and a GeoTIFF, show the same map.
#include <QBuffer>
#include <QImage>

#include <cmath>
#include <cstdio>
#include <string>

namespace testsupport {

constexpr double half = 20037508.342789244; // half the Web Mercator world, in metres

// The colour of a point given in Web Mercator metres.
inline QRgb colourAt(double x, double y)
{
    return qRgb(static_cast<int>(std::fmod(std::fabs(x) / 900, 256)),
                static_cast<int>(std::fmod(std::fabs(y) / 700, 256)),
                static_cast<int>(std::fmod(std::fabs(x + y) / 1300, 256)));
}

inline std::string tilePng(int z, int tx, int ty)
{
    QImage image(256, 256, QImage::Format_RGB32);
    const double size = 2 * half / (1 << z) / 256;
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            image.setPixel(
                x, y,
                colourAt(-half + (tx * 256 + x + 0.5) * size, half - (ty * 256 + y + 0.5) * size));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// A tile of a WMTS in EPSG:4326 whose matrix |z| is 2^(z+1) x 2^z tiles of 256 pixels.
inline std::string geodeticTilePng(int z, int col, int row)
{
    QImage image(256, 256, QImage::Format_RGB32);
    const double size = 180.0 / (1 << z) / 256;
    for (int y = 0; y < 256; ++y) {
        const double lat = 90 - (row * 256 + y + 0.5) * size;
        const double my = std::log(std::tan(M_PI / 4 + lat * M_PI / 360)) * 6378137.0;
        for (int x = 0; x < 256; ++x) {
            image.setPixel(x, y, colourAt((-180 + (col * 256 + x + 0.5) * size) * half / 180, my));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

inline std::string geodeticCapabilities(const std::string& url)
{
    std::string matrices;
    for (int z = 0; z <= 14; ++z) {
        char matrix[600];
        std::snprintf(matrix, sizeof matrix,
                      "<TileMatrix><ows:Identifier>%d</ows:Identifier><ScaleDenominator>%.10f"
                      "</ScaleDenominator><TopLeftCorner>90 -180</TopLeftCorner><TileWidth>256"
                      "</TileWidth><TileHeight>256</TileHeight><MatrixWidth>%d</MatrixWidth>"
                      "<MatrixHeight>%d</MatrixHeight></TileMatrix>",
                      z, 279541132.0143589 / (1 << z), 2 << z, 1 << z);
        matrices += matrix;
    }
    return R"(<Capabilities xmlns="http://www.opengis.net/wmts/1.0"
        xmlns:ows="http://www.opengis.net/ows/1.1"><Contents><Layer><ows:Identifier>a
        </ows:Identifier><Style isDefault="true"><ows:Identifier>default</ows:Identifier></Style>
        <Format>image/png</Format><TileMatrixSetLink><TileMatrixSet>geodetic</TileMatrixSet>
        </TileMatrixSetLink><ResourceURL format="image/png" resourceType="tile" template=")" +
           url + R"(/geodetic/{TileMatrix}/{TileCol}/{TileRow}.png"/></Layer><TileMatrixSet>
        <ows:Identifier>geodetic</ows:Identifier><ows:SupportedCRS>urn:ogc:def:crs:EPSG::4326
        </ows:SupportedCRS>)" +
           matrices + "</TileMatrixSet></Contents></Capabilities>";
}

} // namespace testsupport
