// The layer's coordinate system, from its .prj file, and the conversion of
// each record's vertices to WGS 84 longitude and latitude.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <shapefil.h>

namespace orvtessel {

// The vertices a section writes: longitude (x) and latitude (y) arrays.
struct Vertices {
    const double* x = nullptr;
    const double* y = nullptr;
};

// The version of PROJ in use, such as "9.1.1".
std::string projVersion();

class CoordinateSystem {
public:
    // Reads the layer's .prj (layer path without its extension, then ".prj"
    // or ".PRJ") and prints what it found: a system to convert from, a
    // conversion without a known datum shift, or a file it cannot read.
    // Without a .prj, or with one in WGS 84 longitude/latitude, the vertices
    // are written as stored and nothing is printed. The operation is chosen
    // for each vertex, so the layer's extent (hSHP) plays no part.
    static CoordinateSystem forLayer(const std::string& layerPath, SHPHandle hSHP);

    CoordinateSystem(CoordinateSystem&&) noexcept;
    CoordinateSystem& operator=(CoordinateSystem&&) noexcept;
    ~CoordinateSystem();

    // The first nUsed vertices of the shape in WGS 84, valid until the next
    // call. Returns false (and counts the record) when a vertex cannot be
    // converted; the record then gets no section. A record with a vertex
    // that is not finite, or whose latitude or longitude as written (six
    // decimals) lies beyond 90.000000 or 180.000000 either way, is counted
    // as well, but written.
    bool toWgs84(const SHPObject& shape, int nUsed, int record, Vertices& vertices);

    // The closing warnings, each only when it applies.
    void printUnconvertibleWarning() const;
    void printOutOfRangeWarning() const;

private:
    struct Transformation;
    CoordinateSystem();

    std::unique_ptr<Transformation> transformation_;
    std::vector<double> x_;
    std::vector<double> y_;
    int nUnconvertible_ = 0;
    int firstUnconvertible_ = 0;
    int nOutOfRange_ = 0;
    int firstOutOfRange_ = 0;
};

}  // namespace orvtessel
