#pragma once

#include <QByteArray>

namespace testsupport {

// A valid GIF of |width| x |height| pixels with a 16-colour noise pattern, so that its size
// grows with its area (a 320 x 320 picture is far above 3000 bytes). |seed| varies the
// pattern. Bytes after the GIF trailer are ignored by readers, so padGif() can bring a
// picture to an exact length.
QByteArray makeGif(int width, int height, unsigned seed = 1);
QByteArray padGif(QByteArray gif, int length);
// A GIF of one colour, a few kilobytes at any size the downloader asks for.
QByteArray makeFlatGif(int width, int height);

} // namespace testsupport
