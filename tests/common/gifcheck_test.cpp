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
    testsupport::TempWorkDir work;
    testsupport::TempWorkDir::write(QStringLiteral("a.gif"), gif);
    testsupport::TempWorkDir::write(QStringLiteral("b.gif"), cut(gif, 1));
    EXPECT_TRUE(common::isWholeGifFile("a.gif"));
    EXPECT_FALSE(common::isWholeGifFile("b.gif"));
    EXPECT_FALSE(common::isWholeGifFile("missing.gif"));
}

} // namespace
