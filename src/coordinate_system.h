// The layer's coordinate system, from its .prj file, and the conversion of
// each record's vertices to WGS 84 longitude and latitude.
#pragma once

#include <cstdint>
#include <cstring>
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
    bool toWgs84(const SHPObject& shape, int nUsed, int record, Vertices& vertices) {
        if (transformation_ != nullptr) return convert(shape, nUsed, record, vertices);
        // WGS 84 already: written as stored, only checked.
        vertices.x = shape.padfX;
        vertices.y = shape.padfY;
        checkRange(vertices, nUsed, record);
        return true;
    }

    // The closing warnings, each only when it applies.
    void printUnconvertibleWarning() const;
    void printOutOfRangeWarning() const;

private:
    struct Transformation;

    // The largest doubles written as 90.000000 and 180.000000 with six
    // decimals; the next double up is written 90.000001 and 180.000001. Both
    // lie just below 90.0000005 and 180.0000005, which no double equals, so
    // how the formatter rounds ties plays no part.
    static constexpr double kLargestLatitudeWritten = 0x1.680000218def4p+6;    // 90.0000004999999987...
    static constexpr double kLargestLongitudeWritten = 0x1.68000010c6f7ap+7;  // 180.0000004999999987...

    bool convert(const SHPObject& shape, int nUsed, int record, Vertices& vertices);

    // What counts is the pair as written, with six decimals: 180.00000000000006
    // is written 180.000000 and is in range. NaN and the infinities count as
    // out of range.
    //
    // The check runs over every vertex of every record, so it compares bit
    // patterns, which the compiler turns into vector instructions (it keeps
    // floating-point comparisons one at a time): for doubles without their
    // sign, the order of the bit patterns is the order of the values, with
    // the infinities and NaN above every finite one; and a - b, both below
    // 2^63, has its top bit set exactly when b > a.
    static std::uint64_t magnitudeBits(double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return bits & 0x7FFFFFFFFFFFFFFFull;
    }
    void checkRange(const Vertices& vertices, int nUsed, int record) {
        const std::uint64_t latitudeLimit = magnitudeBits(kLargestLatitudeWritten);
        const std::uint64_t longitudeLimit = magnitudeBits(kLargestLongitudeWritten);
        std::uint64_t beyond = 0;
        for (int i = 0; i < nUsed; ++i) {
            beyond |= (latitudeLimit - magnitudeBits(vertices.y[i])) |
                      (longitudeLimit - magnitudeBits(vertices.x[i]));
        }
        if ((beyond >> 63) != 0) {
            if (nOutOfRange_ == 0) firstOutOfRange_ = record + 1;
            ++nOutOfRange_;
        }
    }
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
