#include "common/gifcheck.h"
#include "gifmaker.h"
#include "tempworkdir.h"

#include <gtest/gtest.h>

namespace {

struct GifCase {
    const char* name;
    QByteArray bytes;
    bool whole;
};

QByteArray cut(QByteArray bytes, int drop)
{
    bytes.chop(drop);
    return bytes;
}

TEST(GifWalker, OnlyAStructureEndingInItsTrailerIsWhole)
{
    const QByteArray gif = testsupport::makeGif(40, 30);
    QByteArray lastDataByte = cut(gif, 2); // the trailer's byte as data, no trailer
    lastDataByte.back() = 0x3B;
    QByteArray badIntroducer = cut(gif, 1);
    badIntroducer += '\x7F';
    const GifCase cases[] = {
        {"a whole GIF", gif, true},
        {"bytes after the trailer", gif + "trailing", true},
        {"without its trailer", cut(gif, 1), false},
        {"0x3B as its last data byte", lastDataByte, false},
        {"cut in the middle", gif.left(gif.size() / 2), false},
        {"cut in the screen descriptor", gif.left(9), false},
        {"an HTML page", "<html>busy</html>", false},
        {"an unknown block", badIntroducer + '\x3B', false},
        {"nothing", {}, false},
    };
    for (const GifCase& c : cases) {
        SCOPED_TRACE(c.name);
        common::GifWalker whole;
        whole.feed(c.bytes.constData(), static_cast<std::size_t>(c.bytes.size()));
        EXPECT_EQ(whole.whole(), c.whole);
        common::GifWalker byByte; // as a body that arrives in the smallest pieces
        for (const char byte : c.bytes) {
            byByte.feed(&byte, 1);
        }
        EXPECT_EQ(byByte.whole(), c.whole);
    }
    // The sizes come from the blocks walked: the screen's, and whether each frame fills it.
    QByteArray smallFrame = gif;
    smallFrame[13 + 16 * 3 + 1 + 4] = 20; // the first image descriptor's width: 20, not 40
    QByteArray huge = gif;
    huge[6] = huge[7] = huge[8] = huge[9] = '\xff';
    const struct {
        const char* name;
        QByteArray bytes;
        int width, height;
        bool fills;
    } sizes[] = {{"as made", gif, 40, 30, true},
                 {"a frame narrower than the screen", smallFrame, 40, 30, false},
                 {"a screen of 65535 pixels a side", huge, 65535, 65535, false},
                 {"no image yet", gif.left(13), 40, 30, false}};
    for (const auto& c : sizes) {
        SCOPED_TRACE(c.name);
        common::GifWalker walker;
        walker.feed(c.bytes.constData(), static_cast<std::size_t>(c.bytes.size()));
        EXPECT_EQ(walker.screenWidth(), c.width);
        EXPECT_EQ(walker.screenHeight(), c.height);
        EXPECT_EQ(walker.imagesFillScreen(), c.fills);
    }
    testsupport::TempWorkDir work;
    testsupport::TempWorkDir::write(QStringLiteral("a.gif"), gif);
    testsupport::TempWorkDir::write(QStringLiteral("b.gif"), cut(gif, 1));
    EXPECT_TRUE(common::isWholeGifFile("a.gif"));
    EXPECT_FALSE(common::isWholeGifFile("b.gif"));
    EXPECT_FALSE(common::isWholeGifFile("missing.gif"));
}

} // namespace
