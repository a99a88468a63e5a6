// How the exporter encodes map tiles: each format as it says, auto's choice from a sample of
// the finest tiles, and every tile of a file in the one format chosen.
#include "mapexport/tileencoding.h"

#include <QByteArray>
#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

struct TileImages {
    QImage flat, holed, shaded;
    TileImages() : flat(256, 256, QImage::Format_ARGB32_Premultiplied)
    {
        flat.fill(QColor(20, 120, 40));
        holed = flat;
        for (int i = 0; i < 16 * 16; ++i) {
            holed.setPixel(i % 16, i / 16, 0); // a transparent corner
        }
        shaded = holed;
        for (int i = 0; i < 300; ++i) {
            shaded.setPixel(100 + i % 100, 100 + i / 100, qRgb(i % 256, i / 256, 7));
        }
    }
};

TEST(ExportTileFormat, EachFormatEncodesAsItSaysAndAutoChoosesFromTheSample)
{
    using mapexport::TileFormat;
    const TileImages images;
    EXPECT_TRUE(mapexport::isDrawn(images.flat));
    EXPECT_TRUE(mapexport::isDrawn(images.holed));
    EXPECT_FALSE(mapexport::isDrawn(images.shaded));
    const struct {
        int drawn, sampled;
        TileFormat chosen;
    } choices[] = {{32, 32, TileFormat::Png},
                   {29, 32, TileFormat::Png},
                   {28, 32, TileFormat::Jpeg},
                   {0, 3, TileFormat::Jpeg},
                   {1, 1, TileFormat::Png}};
    for (const auto& c : choices) {
        EXPECT_EQ(mapexport::chooseTileFormat(c.drawn, c.sampled), c.chosen) << c.drawn;
    }
    // Each format, and what becomes of the transparent corner.
    const struct {
        TileFormat format;
        const char* magic;
        bool keepsTransparency;
    } formats[] = {{TileFormat::Png, "\x89PNG", true},
                   {TileFormat::Jpeg, "\xff\xd8", false},
                   {TileFormat::Webp, "RIFF", true}};
    for (const auto& f : formats) {
        const QByteArray bytes = mapexport::encodeTile(images.shaded, f.format);
        ASSERT_TRUE(bytes.startsWith(f.magic)) << mapexport::tileFormatName(f.format);
        const QImage back = QImage::fromData(bytes);
        ASSERT_FALSE(back.isNull()) << mapexport::tileFormatName(f.format);
        const QColor corner = back.pixelColor(4, 4);
        EXPECT_EQ(corner.alpha() < 16, f.keepsTransparency);
        if (!f.keepsTransparency) {
            EXPECT_GT(std::min({corner.red(), corner.green(), corner.blue()}), 240) << "white";
        }
    }
}

// PNG tiles keep every pixel: a tile of at most 256 colours (transparent and half-transparent
// ones among them) is written with a palette, one of more colours without.
TEST(ExportTileFormat, APngTileKeepsEveryPixelWithAPaletteWhereItFits)
{
    TileImages images;
    images.holed.setPixel(200, 200, qPremultiply(qRgba(200, 100, 50, 128)));
    const struct {
        const QImage& tile;
        char colourType; // of the PNG header: 3 with a palette, 6 RGBA
    } cases[] = {{images.holed, 3}, {images.flat, 3}, {images.shaded, 6}};
    for (const auto& c : cases) {
        const QByteArray png = mapexport::encodeTile(c.tile, mapexport::TileFormat::Png);
        ASSERT_GT(png.size(), 25);
        EXPECT_EQ(png[25], c.colourType);
        const QImage back = QImage::fromData(png).convertToFormat(QImage::Format_ARGB32);
        const QImage given = c.tile.convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(back.size(), given.size());
        for (int y = 0; y < given.height(); ++y) {
            for (int x = 0; x < given.width(); ++x) {
                ASSERT_EQ(back.pixel(x, y), given.pixel(x, y)) << x << "," << y;
            }
        }
    }
}

// Keeps the tiles it is given, by their numbers.
class KeptTiles : public mapexport::TileSink {
public:
    common::Status put(int zoom, std::int64_t column, std::int64_t,
                       const QByteArray& bytes) override
    {
        tiles.emplace_back(zoom * 1000 + static_cast<int>(column), bytes);
        return {};
    }
    std::vector<std::pair<int, QByteArray>> tiles;
};

TEST(ExportTileFormat, EveryTileOfAFileTakesTheOneFormatChosen)
{
    using mapexport::TileFormat;
    const TileImages images;
    const struct {
        int finest;      // tiles of the sampled zoom
        int shadedEvery; // every n-th of them is shaded (0: none)
        TileFormat asked;
        TileFormat written;
    } cases[] = {
        {40, 0, TileFormat::Auto, TileFormat::Png}, // chosen from the first 32
        {40, 2, TileFormat::Auto, TileFormat::Jpeg},
        {40, 20, TileFormat::Auto, TileFormat::Png}, // one in twenty shaded: still drawn
        {5, 1, TileFormat::Auto, TileFormat::Jpeg},  // fewer than the sample: chosen at the end
        {200, 0, TileFormat::Auto, TileFormat::Png}, // more than the queue holds
        {10, 1, TileFormat::Webp, TileFormat::Webp},
        {10, 0, TileFormat::Jpeg, TileFormat::Jpeg},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.finest * 100 + c.shadedEvery);
        KeptTiles sink;
        mapexport::TileFormat written = TileFormat::Auto;
        {
            mapexport::TileEncoders encoders(sink, c.asked, 5);
            for (int i = 0; i < c.finest; ++i) {
                const bool shaded = c.shadedEvery > 0 && i % c.shadedEvery == 0;
                ASSERT_TRUE(encoders.add(5, i, 0, shaded ? images.shaded : images.holed));
                if (i % 4 == 3) { // a coarser tile after every four finer ones, as cut
                    ASSERT_TRUE(encoders.add(4, i / 4, 0, images.flat));
                }
            }
            ASSERT_FALSE(encoders.finish().has_value());
            written = encoders.format();
        }
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(sink.tiles.size(), static_cast<std::size_t>(c.finest + c.finest / 4));
        const QByteArray magic = mapexport::encodeTile(images.flat, c.written).left(4);
        EXPECT_TRUE(std::all_of(sink.tiles.begin(), sink.tiles.end(),
                                [&](const auto& t) { return t.second.startsWith(magic); }));
    }
}

} // namespace
