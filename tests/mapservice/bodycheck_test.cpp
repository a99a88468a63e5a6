#include "gifmaker.h"
#include "mapservice/network/bodycheck.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using mapservice::bodyProblem;
using mapservice::fileProblem;

std::string encoded(int side, const char* format)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor(10, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toStdString();
}

// A lossless WEBP's header of |side| pixels, its RIFF length counting |payload| more bytes.
std::string webp(int side, std::size_t payload, std::size_t sent)
{
    const std::uint32_t bits =
        static_cast<std::uint32_t>(side - 1) | static_cast<std::uint32_t>(side - 1) << 14;
    std::string b = "RIFF____WEBPVP8L____\x2F";
    for (int i = 0; i < 4; ++i) {
        b += static_cast<char>(bits >> (8 * i));
    }
    const auto riff = static_cast<std::uint32_t>(b.size() - 8 + payload);
    for (int i = 0; i < 4; ++i) {
        b[4 + static_cast<std::size_t>(i)] = static_cast<char>(riff >> (8 * i));
    }
    return b + std::string(sent, '\0');
}

TEST(UpstreamBody, OnlyAWholePictureOfTheGridsSizeIsKept)
{
    const std::string png = encoded(256, "PNG");
    const std::string jpeg = encoded(256, "JPEG");
    const QByteArray gif = testsupport::makeFlatGif(256, 256);
    const struct {
        const char* name;
        std::string body;
        const char* problem; // nullptr: kept
    } cases[] = {
        {"a PNG", png, nullptr},
        {"a PNG 100 bytes short", png.substr(0, png.size() - 100), "a PNG cut short"},
        {"a PNG of 512", encoded(512, "PNG"), "a PNG of 512 x 512 pixels, not 256 x 256"},
        {"a JPEG", jpeg, nullptr},
        {"a JPEG cut short", jpeg.substr(0, jpeg.size() / 2), "a JPEG cut short"},
        {"a JPEG of 300", encoded(300, "JPEG"), "of 300 x 300 pixels"},
        {"a GIF", gif.toStdString(), nullptr},
        {"a GIF without trailer", gif.left(gif.size() - 1).toStdString(), "a GIF cut short"},
        {"a WEBP", webp(256, 40, 40), nullptr},
        {"a WEBP cut short", webp(256, 40, 10), "a WEBP cut short"},
        {"a WEBP of 4096", webp(4096, 40, 40), "of 4096 x 4096 pixels"},
        {"a page", "<html>busy</html>", "no PNG, JPEG, GIF or WEBP picture but 17 bytes"},
        {"nothing", "", "but 0 bytes"},
        {"a RIFF header alone", "RIFF", "but 4 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto problem = bodyProblem(c.body, {256, 256});
        ASSERT_EQ(problem.has_value(), c.problem != nullptr) << problem.value_or("");
        if (c.problem != nullptr) {
            EXPECT_NE(problem->find(c.problem), std::string::npos) << *problem;
        }
    }
    EXPECT_FALSE(bodyProblem(encoded(512, "PNG"), {}).has_value()) << "any size when none asked";
}

// A stored body is read back whole up to the limit, and one byte over it is refused.
TEST(UpstreamBody, AStoredBodyIsCheckedWholeUpToItsLimit)
{
    const std::string png = encoded(256, "PNG");
    const std::string path = testing::TempDir() + "/bodycheck_test.png";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(png.data(), 1, png.size(), file);
    std::fclose(file);
    const struct {
        std::size_t limit;
        const char* problem; // nullptr: kept
    } cases[] = {{png.size() * 4, nullptr}, {png.size(), nullptr}, {png.size() - 1, "larger than"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        const auto problem = fileProblem(path, {256, 256}, c.limit);
        ASSERT_EQ(problem.has_value(), c.problem != nullptr) << problem.value_or("");
        if (c.problem != nullptr) {
            EXPECT_NE(problem->find(c.problem), std::string::npos) << *problem;
        }
    }
    EXPECT_EQ(fileProblem(path + ".gone", {256, 256}, png.size()), "unreadable once received");
    std::remove(path.c_str());
}

} // namespace
