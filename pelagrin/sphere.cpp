#include "pelagrin/sphere.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace pelagrin {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double radians = pi / 180;

struct Vec {
    double x = 0;
    double y = 0;
    double z = 0;
};

Vec vec(const common::Centre& c)
{
    const double lat = c.latitude * radians;
    const double lon = c.longitude * radians;
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

double dot(const Vec& a, const Vec& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec cross(const Vec& a, const Vec& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double length(const Vec& a)
{
    return std::sqrt(dot(a, a));
}

Vec scaled(const Vec& a, double f)
{
    return {a.x * f, a.y * f, a.z * f};
}

double latitudeOf(const Vec& v)
{
    return std::atan2(v.z, std::hypot(v.x, v.y)) / radians;
}

double longitudeOf(const Vec& v)
{
    return std::atan2(v.y, v.x) / radians;
}

// The angle between two unit vectors, precise for small angles too.
double angle(const Vec& a, const Vec& b)
{
    return std::atan2(length(cross(a, b)), dot(a, b));
}

// Whether |lon| lies within the box's meridians, whatever turn of 360 degrees it is given in.
bool withinMeridians(double lon, const common::GeoBox& box)
{
    const double width = box.east - box.west;
    if (width >= 360) {
        return true;
    }
    double t = std::fmod(lon - box.west, 360.0);
    if (t < 0) {
        t += 360;
    }
    return t <= width + 1e-12;
}

// A great-circle arc from |a| to |b| with its unit normal; none when the two are (nearly) the
// same place, or opposite.
struct Arc {
    Vec a;
    Vec b;
    Vec normal;

    // Whether |q|, a point of the arc's great circle, lies on the arc.
    bool holds(const Vec& q) const
    {
        constexpr double slack = -1e-12;
        return dot(cross(a, q), normal) >= slack && dot(cross(q, b), normal) >= slack;
    }
};

bool makeArc(const common::Centre& from, const common::Centre& to, Arc& arc)
{
    arc.a = vec(from);
    arc.b = vec(to);
    const Vec n = cross(arc.a, arc.b);
    const double l = length(n);
    if (l < 1e-15) {
        return false;
    }
    arc.normal = scaled(n, 1 / l);
    return true;
}

} // namespace

double distanceKm(const common::Centre& a, const common::Centre& b)
{
    return angle(vec(a), vec(b)) * earthRadiusKm;
}

double pointToBoxKm(const common::Centre& p, const common::GeoBox& box)
{
    const double lat = p.latitude;
    if (withinMeridians(p.longitude, box)) {
        // Straight along the meridian to the nearer parallel.
        return std::max({0.0, box.south - lat, lat - box.north}) * kmPerDegree;
    }
    // Outside the meridians the nearest point lies on one of them: along each, the point that
    // makes cos(distance) = sin(lat) sin(t) + cos(lat) cos(t) cos(dlon) largest, which is
    // t = atan2(sin(lat), cos(lat) cos(dlon)), held within the box's parallels.
    double best = HUGE_VAL;
    for (const double meridian : {box.west, box.east}) {
        const double dlon = (p.longitude - meridian) * radians;
        const double top =
            std::atan2(std::sin(lat * radians), std::cos(lat * radians) * std::cos(dlon));
        const double t = std::clamp(top / radians, box.south, box.north);
        best = std::min(best, distanceKm(p, {t, meridian}));
    }
    return best;
}

double pointToSegmentKm(const common::Centre& p, const common::Centre& a, const common::Centre& b)
{
    const double ends = std::min(distanceKm(p, a), distanceKm(p, b));
    Arc arc;
    if (!makeArc(a, b, arc)) {
        return ends;
    }
    const Vec v = vec(p);
    const double off = dot(v, arc.normal);
    const Vec foot = {v.x - off * arc.normal.x, v.y - off * arc.normal.y, v.z - off * arc.normal.z};
    const double footLength = length(foot);
    if (footLength < 1e-15 || !arc.holds(foot)) {
        return ends;
    }
    return std::atan2(std::abs(off), footLength) * earthRadiusKm;
}

double segmentToBoxKm(const common::Centre& a, const common::Centre& b, const common::GeoBox& box)
{
    double best = std::min(pointToBoxKm(a, box), pointToBoxKm(b, box));
    Arc arc;
    if (best == 0 || !makeArc(a, b, arc)) {
        return best;
    }
    // Where the arc runs outside the box's meridians, its distance to the box is its distance
    // to one of them; two great-circle arcs that do not cross come nearest at an end of one of
    // them: at the arc's ends (above), at the box's corners (here), or where the arc meets a
    // meridian (below).
    for (const double lat : {box.south, box.north}) {
        for (const double lon : {box.west, box.east}) {
            best = std::min(best, pointToSegmentKm({lat, lon}, a, b));
        }
    }
    // Between the meridians the distance is the latitude's way out of the parallels. Longitude
    // runs one way along the arc, so the part between the meridians is one piece: its latitudes
    // range between those of its ends (the arc's own ends, or where it meets a meridian) and of
    // the arc's northern- or southernmost point when that lies on it.
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
    const auto take = [&](const Vec& v) {
        const double lat = latitudeOf(v);
        low = std::min(low, lat);
        high = std::max(high, lat);
    };
    for (const Vec& end : {arc.a, arc.b}) {
        if (withinMeridians(longitudeOf(end), box)) {
            take(end);
        }
    }
    for (const double meridian : {box.west, box.east}) {
        const double m = meridian * radians;
        const Vec towards = {std::cos(m), std::sin(m), 0};
        Vec meets = cross(arc.normal, Vec{-std::sin(m), std::cos(m), 0});
        const double l = length(meets);
        if (l < 1e-15) {
            continue; // the arc's circle is this meridian's
        }
        meets = scaled(meets, (dot(meets, towards) < 0 ? -1 : 1) / l);
        if (arc.holds(meets)) {
            take(meets);
        }
    }
    const Vec pole{0, 0, 1};
    const Vec top = {pole.x - arc.normal.z * arc.normal.x, pole.y - arc.normal.z * arc.normal.y,
                     pole.z - arc.normal.z * arc.normal.z};
    if (const double l = length(top); l > 1e-15) {
        for (const Vec& extreme : {scaled(top, 1 / l), scaled(top, -1 / l)}) {
            if (arc.holds(extreme) && withinMeridians(longitudeOf(extreme), box)) {
                take(extreme);
            }
        }
    }
    if (low <= high) {
        if (low <= box.north && high >= box.south) {
            return 0;
        }
        best = std::min(best, (low > box.north ? low - box.north : box.south - high) * kmPerDegree);
    }
    return best;
}

common::Centre alongArc(const common::Centre& a, const common::Centre& b, double t)
{
    const Vec va = vec(a);
    const Vec vb = vec(b);
    const double theta = angle(va, vb);
    if (theta < 1e-15) {
        return a;
    }
    const double fa = std::sin((1 - t) * theta) / std::sin(theta);
    const double fb = std::sin(t * theta) / std::sin(theta);
    const Vec v = {fa * va.x + fb * vb.x, fa * va.y + fb * vb.y, fa * va.z + fb * vb.z};
    double lon = longitudeOf(v);
    lon += 360 * std::round((a.longitude - lon) / 360);
    return {latitudeOf(v), lon};
}

std::pair<double, double> arcLatitudes(const common::Centre& a, const common::Centre& b)
{
    double low = std::min(a.latitude, b.latitude);
    double high = std::max(a.latitude, b.latitude);
    Arc arc;
    if (!makeArc(a, b, arc)) {
        return {low, high};
    }
    const Vec top = {-arc.normal.z * arc.normal.x, -arc.normal.z * arc.normal.y,
                     1 - arc.normal.z * arc.normal.z};
    if (const double l = length(top); l > 1e-15) {
        for (const Vec& extreme : {scaled(top, 1 / l), scaled(top, -1 / l)}) {
            if (arc.holds(extreme)) {
                low = std::min(low, latitudeOf(extreme));
                high = std::max(high, latitudeOf(extreme));
            }
        }
    }
    return {low, high};
}

} // namespace pelagrin
