// Drawing and encoding one 1999 x 1999 tile over central Europe, against encoding the same
// picture alone.
#include "benchutil.h"
#include "mapservice/draw/gifencode.h"
#include "mapservice/draw/palette.h"
#include "mapservice/draw/render.h"

int main()
{
    const mapservice::ShoreFiles files = mapservice::loadShoreFiles(MAPSERVICE_DATA_DIR);
    if (!files.errors.empty()) {
        std::fprintf(stderr, "shoreline data missing:\n%s", files.errors.c_str());
        return 1;
    }
    const mapservice::ShoreData shores = mapservice::shoreData(files);
    const mapservice::MapRequest request{48.500001, 11.250001, 150, 1999, 1999, "EUR0407", {}};
    const mapservice::Palette palette = mapservice::paletteFor(request.mapcode);
    const mapservice::IndexedImage picture = mapservice::render(request, shores);
    std::size_t bytes = 0;
    // A round draws and encodes five tiles (about a second), or encodes the same five.
    constexpr int repeats = 5;
    const bench::Rounds rounds = bench::alternate(
        9,
        [&] {
            for (int i = 0; i < repeats; ++i) {
                bytes += mapservice::encodeGif(mapservice::render(request, shores), palette).size();
            }
        },
        [&] {
            for (int i = 0; i < repeats; ++i) {
                bytes += mapservice::encodeGif(picture, palette).size();
            }
        });
    bench::report("mapservice_render_1999", rounds, "3");
    return bytes > 0 ? 0 : 1;
}
