// One feature section per shape record: [POI], [POLYLINE] or [POLYGON],
// with its Data0= coordinate lines, the record's attribute lines, the
// mpID= line of a multi-part polygon, and [END].
#pragma once

#include <shapefil.h>

#include "attribute_lines.h"
#include "coordinate_system.h"
#include "output_stream.h"

namespace orvtessel {

// True when the record has at least one vertex to write. A record without
// one gets no section at all: an empty Data0= line makes a map compiler
// reject the whole file.
bool shapeHasCoordinates(const SHPObject& shape);

// The writers expect shapeHasCoordinates(shape). `record` is the 0-based
// index shared by the geometry and the attribute table. Each writes its
// vertices in WGS 84, and nothing at all when they cannot be converted to
// it (the coordinate system counts such records).
void writePoiSection(OutputStream& out, const SHPObject& shape, int record,
                     CoordinateSystem& coordinates, AttributeLines& attributes);
void writePolylineSection(OutputStream& out, const SHPObject& shape, int record,
                          CoordinateSystem& coordinates, AttributeLines& attributes);
void writePolygonSection(OutputStream& out, const SHPObject& shape, int record,
                         CoordinateSystem& coordinates, AttributeLines& attributes);

}  // namespace orvtessel
