#include "mapservice/draw/quantize.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>

namespace mapservice {

namespace {

constexpr int maxColours = 256;
constexpr int cellsPerChannel = 32; // 5 bits
constexpr int cells = cellsPerChannel * cellsPerChannel * cellsPerChannel;

std::uint32_t key(Rgb c)
{
    return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}

int cellOf(Rgb c)
{
    return ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
}

// The picture's own colours, or nothing when there are more than 256.
bool exactPalette(const RgbImage& image, Picture& out)
{
    std::unordered_map<std::uint32_t, std::uint8_t> index;
    index.reserve(std::size_t{maxColours} * 2);
    std::uint32_t last = 0xffffffff;
    std::uint8_t lastIndex = 0;
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const Rgb c = image.pixels[i];
        const std::uint32_t k = key(c);
        if (k != last) { // runs of one colour are the rule in a map
            auto it = index.find(k);
            if (it == index.end()) {
                if (index.size() == maxColours) {
                    return false;
                }
                it = index.emplace(k, static_cast<std::uint8_t>(index.size())).first;
                out.palette.push_back(c);
            }
            last = k;
            lastIndex = it->second;
        }
        out.image.pixels[i] = lastIndex;
    }
    return true;
}

// A box of histogram cells: lower and upper cell per channel, both included.
struct Box {
    std::array<int, 3> low{0, 0, 0};
    std::array<int, 3> high{cellsPerChannel - 1, cellsPerChannel - 1, cellsPerChannel - 1};
    std::uint64_t count = 0;
};

int cellIndex(const std::array<int, 3>& c)
{
    return (c[0] << 10) | (c[1] << 5) | c[2];
}

template <typename Visit> void forEachCell(const Box& box, Visit&& visit)
{
    std::array<int, 3> c{};
    for (c[0] = box.low[0]; c[0] <= box.high[0]; ++c[0]) {
        for (c[1] = box.low[1]; c[1] <= box.high[1]; ++c[1]) {
            for (c[2] = box.low[2]; c[2] <= box.high[2]; ++c[2]) {
                visit(c);
            }
        }
    }
}

// Splits |box| at the weighted median of its longest side; false when it is one cell.
bool split(const Box& box, const std::vector<std::uint64_t>& counts, Box& a, Box& b)
{
    int axis = 0;
    for (int i = 1; i < 3; ++i) {
        if (box.high[i] - box.low[i] > box.high[axis] - box.low[axis]) {
            axis = i;
        }
    }
    if (box.high[axis] == box.low[axis]) {
        return false;
    }
    std::array<std::uint64_t, cellsPerChannel> perSlice{};
    forEachCell(box,
                [&](const std::array<int, 3>& c) { perSlice[c[axis]] += counts[cellIndex(c)]; });
    std::uint64_t seen = 0;
    int cut = box.low[axis];
    for (int v = box.low[axis]; v < box.high[axis]; ++v) {
        seen += perSlice[v];
        cut = v;
        if (seen * 2 >= box.count) {
            break;
        }
    }
    a = box;
    b = box;
    a.high[axis] = cut;
    b.low[axis] = cut + 1;
    a.count = 0;
    for (int v = a.low[axis]; v <= a.high[axis]; ++v) {
        a.count += perSlice[v];
    }
    b.count = box.count - a.count;
    return true;
}

void medianCut(const RgbImage& image, Picture& out)
{
    std::vector<std::uint64_t> counts(cells, 0);
    std::vector<std::array<std::uint64_t, 3>> sums(cells, {0, 0, 0});
    for (const Rgb c : image.pixels) {
        const int cell = cellOf(c);
        ++counts[cell];
        sums[cell][0] += c.r;
        sums[cell][1] += c.g;
        sums[cell][2] += c.b;
    }
    std::vector<Box> boxes{Box{}};
    boxes.reserve(maxColours);
    boxes.front().count = image.pixels.size();
    while (boxes.size() < maxColours) {
        // The most populous box that can still be split.
        Box* best = nullptr;
        for (Box& box : boxes) {
            const bool splittable = box.low != box.high && box.count > 1;
            if (splittable && (best == nullptr || box.count > best->count)) {
                best = &box;
            }
        }
        Box a;
        Box b;
        if (best == nullptr || !split(*best, counts, a, b)) {
            break;
        }
        *best = a;
        boxes.push_back(b); // may move the boxes: |best| is not used after this
    }
    std::vector<std::uint8_t> lookup(cells, 0);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        std::array<std::uint64_t, 3> sum{0, 0, 0};
        std::uint64_t n = 0;
        forEachCell(boxes[i], [&](const std::array<int, 3>& c) {
            const int cell = cellIndex(c);
            lookup[cell] = static_cast<std::uint8_t>(i);
            n += counts[cell];
            for (int k = 0; k < 3; ++k) {
                sum[k] += sums[cell][k];
            }
        });
        const auto mean = [&](int k) { return static_cast<std::uint8_t>(n > 0 ? sum[k] / n : 0); };
        out.palette.push_back({mean(0), mean(1), mean(2)});
    }
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        out.image.pixels[i] = lookup[cellOf(image.pixels[i])];
    }
}

} // namespace

Picture quantize(const RgbImage& image, const Halt& halt)
{
    Picture out{IndexedImage(image.width, image.height, 0), {}, {}, {}};
    if (!exactPalette(image, out)) {
        out.palette.clear();
        if (!halted(halt)) {
            medianCut(image, out);
        }
    }
    if (out.palette.empty()) {
        out.palette.push_back({0, 0, 0}); // an empty picture still needs one colour
    }
    return out;
}

} // namespace mapservice
