#pragma once

// Whether bytes are a whole GIF: its block structure walked from the header to the trailer,
// without decoding any picture. Fed piece by piece as a body arrives, or a file at once.
#include <cstddef>
#include <cstdint>
#include <string>

namespace common {

class GifWalker {
public:
    // Takes the next |size| bytes. Bytes after the trailer are ignored.
    void feed(const std::uint8_t* bytes, std::size_t size);
    void feed(const char* bytes, std::size_t size)
    {
        feed(reinterpret_cast<const std::uint8_t*>(bytes), size);
    }

    // The trailer came after a well-formed header and blocks.
    bool whole() const { return state_ == State::Done; }
    // Something that cannot be part of a GIF came.
    bool broken() const { return state_ == State::Broken; }

    // The logical screen's size from the header; 0 until the header came.
    int screenWidth() const { return screenWidth_; }
    int screenHeight() const { return screenHeight_; }
    // Whether at least one image came and every image so far fills the screen exactly: the
    // suite's pictures are one frame of the screen's size.
    bool imagesFillScreen() const { return images_ > 0 && imagesFill_; }

private:
    enum class State {
        Signature, // "GIF87a" or "GIF89a", then the screen descriptor
        ScreenDescriptor,
        Block,           // the introducer of the next block
        ImageDescriptor, // 9 bytes after 0x2C
        CodeSize,        // the image's LZW code size
        ExtensionLabel,  // the byte after 0x21
        SubBlockLength,  // a data sub-block's length, 0 ends the sub-blocks
        Skip,            // bytes to pass over, then the state in |next_|
        Done,
        Broken,
    };
    void skip(std::size_t count, State then);

    State state_ = State::Signature;
    State next_ = State::Block;
    std::uint8_t header_[13] = {}; // the signature and screen descriptor, or an image descriptor
    std::size_t have_ = 0;         // bytes of header_ so far
    std::size_t skip_ = 0;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    int images_ = 0;
    bool imagesFill_ = true;
};

// Whether the file at |path| is a whole GIF (false also when it cannot be read). |walked|, when
// given, receives the walker, with the sizes the blocks declare.
bool isWholeGifFile(const std::string& path, GifWalker* walked = nullptr);

} // namespace common
