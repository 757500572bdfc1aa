#include "feature_sections.h"

#include <algorithm>
#include <cstdio>

#include "fixed_format.h"

namespace orvtessel {
namespace {

constexpr int kCoordinateDecimals = 6;
// "(" latitude "," longitude ")" ","
constexpr std::size_t kMaxPairBytes = 2 * kFixedBufferSize + 4;
static_assert(kMaxPairBytes <= OutputStream::kMinReserve);

// The pairs of vertices begin..end-1, latitude (Y) before longitude (X),
// separated by ",".
void writeVertexRun(OutputStream& out, const Vertices& vertices, int begin, int end) {
    for (int i = begin; i < end; ++i) {
        char* p = out.reserve(kMaxPairBytes);
        *p++ = '(';
        p = formatFixed(p, vertices.y[i], kCoordinateDecimals);
        *p++ = ',';
        p = formatFixed(p, vertices.x[i], kCoordinateDecimals);
        *p++ = ')';
        if (i + 1 < end) *p++ = ',';
        out.commit(p);
    }
}

// Calls writePart(begin, end) for each part with vertices, in storage
// order. Part p runs from its start to the next part's start, the last one
// to nVertices. The first part always begins at vertex 0, a record without
// a part table is one part, and starts outside the vertices or out of
// order are clamped, so no vertex outside 0..nVertices-1 is read.
template <typename WritePart>
int forEachPart(const SHPObject& shape, WritePart writePart) {
    const int nVertices = shape.nVertices;
    if (shape.nParts <= 0 || shape.panPartStart == nullptr) {
        writePart(0, nVertices);
        return 1;
    }
    int nWritten = 0;
    int begin = 0;
    for (int p = 0; p < shape.nParts; ++p) {
        const int end = p + 1 < shape.nParts
                            ? std::clamp(shape.panPartStart[p + 1], begin, nVertices)
                            : nVertices;
        if (end > begin) {
            writePart(begin, end);
            ++nWritten;
        }
        begin = end;
    }
    return nWritten;
}

int writePartLines(OutputStream& out, const SHPObject& shape, const Vertices& vertices) {
    return forEachPart(shape, [&](int begin, int end) {
        out.writeRaw("Data0=");
        writeVertexRun(out, vertices, begin, end);
        out.newline();
    });
}

}  // namespace

bool shapeHasCoordinates(const SHPObject& shape) {
    return shape.nVertices > 0 && shape.padfX != nullptr && shape.padfY != nullptr;
}

void writePoiSection(OutputStream& out, const SHPObject& shape, int record,
                     CoordinateSystem& coordinates, AttributeLines& attributes) {
    // A point uses its first vertex only.
    Vertices vertices;
    if (!coordinates.toWgs84(shape, 1, record, vertices)) return;
    out.writeRaw("[POI]\r\nData0=");
    writeVertexRun(out, vertices, 0, 1);
    out.newline();
    attributes.write(out, record);
    attributes.writeEndLevel(out);
    out.writeRaw("[END]\r\n\r\n");
}

void writePolylineSection(OutputStream& out, const SHPObject& shape, int record,
                          CoordinateSystem& coordinates, AttributeLines& attributes) {
    Vertices vertices;
    if (!coordinates.toWgs84(shape, shape.nVertices, record, vertices)) return;
    out.writeRaw("[POLYLINE]\r\n");
    // One Data0= line per part: joining parts would invent segments.
    writePartLines(out, shape, vertices);
    attributes.write(out, record);
    attributes.writeEndLevel(out);
    out.writeRaw("[END]\r\n\r\n");
}

void writePolygonSection(OutputStream& out, const SHPObject& shape, int record,
                         CoordinateSystem& coordinates, AttributeLines& attributes) {
    Vertices vertices;
    if (!coordinates.toWgs84(shape, shape.nVertices, record, vertices)) return;
    out.writeRaw("[POLYGON]\r\n");
    const int nParts = writePartLines(out, shape, vertices);
    attributes.write(out, record);
    if (nParts > 1) {
        char number[24];
        const int n = std::snprintf(number, sizeof number, "mpID=%d", record + 1);
        out.writeRaw(number, static_cast<std::size_t>(n));
        out.newline();
    }
    attributes.writeEndLevel(out);
    out.writeRaw("[END]\r\n\r\n");
}

}  // namespace orvtessel
