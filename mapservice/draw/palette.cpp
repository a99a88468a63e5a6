#include "mapservice/draw/palette.h"

namespace mapservice {

Palette paletteFor(const std::string& mapcode)
{
    Palette p{};
    p.fill({0, 0, 0});
    if (mapcode == "WLD0407") {
        // A night chart: dark sea, bright shores.
        p[outsideWorld] = {20, 20, 20};
        p[sea] = {16, 38, 74};
        p[shore] = {250, 214, 92};
        p[lakeShore] = {120, 220, 250};
        p[graticule] = {96, 128, 170};
        p[fineGraticule] = {50, 80, 120};
        p[label] = {230, 230, 230};
        p[legendBack] = {0, 0, 0};
        p[legendText] = {250, 214, 92};
        p[land] = {46, 52, 40};
        p[lake] = {22, 52, 96};
    } else {
        // A day chart for the European and American maps and any other code.
        p[outsideWorld] = {200, 200, 200};
        p[sea] = {170, 211, 240};
        p[shore] = {60, 60, 60};
        p[lakeShore] = {30, 90, 190};
        p[graticule] = {190, 60, 60};
        p[fineGraticule] = {225, 150, 150};
        p[label] = {120, 20, 20};
        p[legendBack] = {255, 255, 255};
        p[legendText] = {0, 0, 0};
        p[land] = {238, 234, 218};
        p[lake] = {150, 196, 236};
        if (mapcode == "USA407") {
            p[shore] = {20, 90, 30};
        }
    }
    return p;
}

} // namespace mapservice
