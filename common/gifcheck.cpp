#include "common/gifcheck.h"

#include <cstdio>
#include <cstring>

namespace common {

namespace {

// The bytes of a colour table whose size field (the low three bits of |flags|) is given, when
// its flag (the high bit) is set.
std::size_t colourTableBytes(std::uint8_t flags)
{
    return (flags & 0x80) != 0 ? std::size_t{3} << ((flags & 0x07) + 1) : 0;
}

int littleEndian(const std::uint8_t* at)
{
    return at[0] | at[1] << 8;
}

} // namespace

void GifWalker::skip(std::size_t count, State then)
{
    next_ = then;
    skip_ = count;
    state_ = count > 0 ? State::Skip : then;
}

void GifWalker::feed(const std::uint8_t* bytes, std::size_t size)
{
    std::size_t at = 0;
    while (at < size && state_ != State::Done && state_ != State::Broken) {
        switch (state_) {
        case State::Signature:
        case State::ScreenDescriptor:
        case State::ImageDescriptor: {
            const std::size_t wanted = state_ == State::ImageDescriptor ? 9 : 13;
            const std::size_t take = std::min(wanted - have_, size - at);
            std::memcpy(header_ + have_, bytes + at, take);
            have_ += take;
            at += take;
            if (have_ < wanted) {
                break;
            }
            have_ = 0;
            if (state_ == State::ImageDescriptor) {
                // Left, top, width, height, then the flags.
                ++images_;
                imagesFill_ = imagesFill_ && littleEndian(header_) == 0 &&
                              littleEndian(header_ + 2) == 0 &&
                              littleEndian(header_ + 4) == screenWidth_ &&
                              littleEndian(header_ + 6) == screenHeight_;
                skip(colourTableBytes(header_[8]), State::CodeSize);
            } else if (std::memcmp(header_, "GIF87a", 6) != 0 &&
                       std::memcmp(header_, "GIF89a", 6) != 0) {
                state_ = State::Broken;
            } else {
                screenWidth_ = littleEndian(header_ + 6);
                screenHeight_ = littleEndian(header_ + 8);
                skip(colourTableBytes(header_[10]), State::Block);
            }
            break;
        }
        case State::Block: {
            const std::uint8_t introducer = bytes[at++];
            if (introducer == 0x2C) {
                state_ = State::ImageDescriptor;
            } else if (introducer == 0x21) {
                state_ = State::ExtensionLabel;
            } else if (introducer == 0x3B) {
                state_ = State::Done;
            } else {
                state_ = State::Broken;
            }
            break;
        }
        case State::CodeSize:
            state_ = bytes[at++] <= 12 ? State::SubBlockLength : State::Broken;
            break;
        case State::ExtensionLabel:
            ++at;
            state_ = State::SubBlockLength;
            break;
        case State::SubBlockLength: {
            const std::uint8_t length = bytes[at++];
            if (length == 0) {
                state_ = State::Block;
            } else {
                skip(length, State::SubBlockLength);
            }
            break;
        }
        case State::Skip: {
            const std::size_t take = std::min(skip_, size - at);
            at += take;
            skip_ -= take;
            if (skip_ == 0) {
                state_ = next_;
            }
            break;
        }
        case State::Done:
        case State::Broken:
            break;
        }
    }
}

bool isWholeGifFile(const std::string& path, GifWalker* walked)
{
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) {
        return false;
    }
    GifWalker walker;
    char buffer[65536];
    std::size_t n = 0;
    while (!walker.whole() && !walker.broken() &&
           (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        walker.feed(buffer, n);
    }
    std::fclose(file);
    if (walked != nullptr) {
        *walked = walker;
    }
    return walker.whole();
}

} // namespace common
