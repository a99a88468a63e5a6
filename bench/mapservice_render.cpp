// Drawing and encoding one 1999 x 1999 tile over central Europe, against encoding the same
// picture alone.
#include "benchutil.h"
#include "gifencode.h"
#include "render.h"

#include <algorithm>
#include <vector>

namespace {

std::optional<mapservice::Coastlines> load(char resolution)
{
    std::string error;
    return mapservice::Coastlines::load(
        MAPSERVICE_DATA_DIR "/binned_GSHHS_" + std::string(1, resolution) + ".nc", error);
}

template <typename F>
double median(int repeats, F&& work)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        times.push_back(bench::secondsOf(work));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    const auto crude = load('c');
    const auto low = load('l');
    const auto intermediate = load('i');
    if (!crude || !low || !intermediate) {
        std::fprintf(stderr, "shoreline data missing in %s\n", MAPSERVICE_DATA_DIR);
        return 1;
    }
    const mapservice::ShoreData shores{&*crude, &*low, &*intermediate};
    const mapservice::MapRequest request{48.500001, 11.250001, 150, 1999, 1999, "EUR0407"};
    const mapservice::Palette palette = mapservice::paletteFor(request.mapcode);
    const mapservice::IndexedImage picture = mapservice::render(request, shores);
    std::size_t bytes = 0;
    const double value = median(15, [&] {
        bytes += mapservice::encodeGif(mapservice::render(request, shores), palette).size();
    });
    const double baseline =
        median(15, [&] { bytes += mapservice::encodeGif(picture, palette).size(); });
    bench::report("mapservice_render_1999", value, baseline, "3");
    return bytes > 0 ? 0 : 1;
}
