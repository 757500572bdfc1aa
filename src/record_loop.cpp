#include "record_loop.h"

#include <cstdio>
#include <memory>

#include "console.h"
#include "feature_sections.h"
#include "fixed_format.h"

namespace orvtessel {
namespace {

struct ShapeDestroyer {
    void operator()(SHPObject* shape) const { SHPDestroyObject(shape); }
};
using ShapePtr = std::unique_ptr<SHPObject, ShapeDestroyer>;

std::string kindMessage(const char* prefix, const std::string& layerPath, const char* rest) {
    return std::string(prefix) + layerPath + rest;
}

// The shape type that decides the kind: the first record, from index 1 on
// and then index 0, that can be read and is not null. SHPT_NULL when there
// is none; the header's type when the geometry has no records at all.
int probeShapeType(SHPHandle hSHP) {
    int nShapes = 0;
    int headerType = SHPT_NULL;
    SHPGetInfo(hSHP, &nShapes, &headerType, nullptr, nullptr);
    if (nShapes <= 0) return headerType;
    for (int i = 1; i <= nShapes; ++i) {
        const int index = i < nShapes ? i : 0;
        ShapePtr shape(SHPReadObject(hSHP, index));
        if (shape && shape->nSHPType != SHPT_NULL) return shape->nSHPType;
    }
    return SHPT_NULL;
}

// The number of records the attribute table's file really holds, from its
// size; -1 when it cannot be told. shapelib seeks before every record it
// reads, so moving the file position here does not disturb it.
long long recordsInTableFile(DBFHandle hDBF) {
    if (hDBF->nRecordLength <= 0 || hDBF->sHooks.FSeek(hDBF->fp, 0, SEEK_END) != 0) return -1;
    const auto size = static_cast<long long>(hDBF->sHooks.FTell(hDBF->fp));
    if (size <= hDBF->nHeaderLength) return 0;
    return (size - hDBF->nHeaderLength) / hDBF->nRecordLength;
}

}  // namespace

std::optional<LayerKind> probeLayerKind(SHPHandle hSHP, const std::string& layerPath) {
    const int shapeType = probeShapeType(hSHP);
    switch (shapeType) {
        case SHPT_NULL:
            printOut(kindMessage("[CRIT] The ", layerPath,
                                 " file contains NULL elements. Exiting...\n"));
            return std::nullopt;
        case SHPT_POINT:
            printOut(kindMessage("[INF] The ", layerPath, " file contains Point elements.\n"));
            return LayerKind::Point;
        case SHPT_ARC:
            printOut(kindMessage("[INF] The ", layerPath, " file contains Polyline elements.\n"));
            return LayerKind::Polyline;
        case SHPT_POLYGON:
            printOut(kindMessage("[INF] The ", layerPath, " file contains Polygon elements.\n"));
            return LayerKind::Polygon;
        default:
            printOut(kindMessage("[CRIT] The ", layerPath,
                                 " file contains elements that currently not supported. "
                                 "Exiting...\n"));
            return std::nullopt;
    }
}

ProgressLine::ProgressLine() : shown_(showsProgress()), toTerminal_(consoleIsTerminal()) {}

ProgressLine::~ProgressLine() { finish(); }

void ProgressLine::reportProgress(int record, int nRecords) {
    if (!shown_) return;
    // Kept in this order: r / n * 100.0 and r * 100.0 / n differ at ties.
    const double percent = static_cast<double>(record) / static_cast<double>(nRecords) * 100.0;
    char text[64] = "\r[INF] Processing: ";
    constexpr std::size_t nPrefix = sizeof "\r[INF] Processing: " - 1;
    char* end = formatFixed(text + nPrefix, percent, 0);
    *end++ = '%';
    const std::string_view line(text, static_cast<std::size_t>(end - text));
    pending_.append(line);
    const bool changed = line != lastText_;
    if (changed) lastText_.assign(line);
    // On a terminal the line should move as the work does.
    if ((changed && toTerminal_) || pending_.size() >= 65536) {
        printProgress(pending_);
        pending_.clear();
        if (toTerminal_) flushOut();
    }
}

void ProgressLine::finish() {
    printProgress(pending_);
    pending_.clear();
}

void runRecordLoop(OutputStream& out, SHPHandle hSHP, DBFHandle hDBF, LayerKind kind,
                   CoordinateSystem& coordinates, AttributeLines& attributes) {
    int nShapes = 0;
    SHPGetInfo(hSHP, &nShapes, nullptr, nullptr, nullptr);
    int nRecords = DBFGetRecordCount(hDBF);
    if (nRecords <= 0) {
        printOut("[WRN] No elements in .dbf file!\n");
        nRecords = 0;
    }
    // A damaged header can count far more records than either file holds
    // (billions, from four bytes): such records have no shape and no
    // attributes, and looping over them would only print progress lines
    // for hours. Records that exist in at least one of the files stay.
    const long long nStored = recordsInTableFile(hDBF);
    const long long nExisting = nStored > nShapes ? nStored : nShapes;
    if (nStored >= 0 && nRecords > nExisting) {
        char message[200];
        std::snprintf(message, sizeof message,
                      "[WRN] The .dbf header counts %i records, but neither file holds more "
                      "than %lli; the others were ignored.\n",
                      nRecords, nExisting);
        printOut(message);
        nRecords = static_cast<int>(nExisting);
    }

    // One record is alive at a time, so shapelib may reuse its buffers
    // instead of allocating a new record for every read.
    SHPSetFastModeReadObject(hSHP, 1);
    ProgressLine progress;
    int nSkipped = 0;
    int firstSkipped = 0;
    for (int r = 0; r < nRecords; ++r) {
        ShapePtr shape(r < nShapes ? SHPReadObject(hSHP, r) : nullptr);
        if (shape && shapeHasCoordinates(*shape)) {
            // A type the type map does not list gets no section either;
            // the attribute lines count it.
            if (!attributes.selectRecord(r)) {
                shape.reset();
                progress.reportProgress(r, nRecords);
                continue;
            }
            switch (kind) {
                case LayerKind::Point:
                    writePoiSection(out, *shape, r, coordinates, attributes);
                    break;
                case LayerKind::Polyline:
                    writePolylineSection(out, *shape, r, coordinates, attributes);
                    break;
                case LayerKind::Polygon:
                    writePolygonSection(out, *shape, r, coordinates, attributes);
                    break;
            }
        } else {
            // Null, empty, missing or unreadable: no coordinates, no section.
            if (nSkipped == 0) firstSkipped = r + 1;
            ++nSkipped;
        }
        shape.reset();
        progress.reportProgress(r, nRecords);
    }
    progress.finish();

    char message[160];
    if (nSkipped > 0) {
        std::snprintf(message, sizeof message,
                      "\n[WRN] %i records without coordinates were skipped (first: record %i).",
                      nSkipped, firstSkipped);
        printOut(message);
    }
    attributes.printUnlistedWarning();
    coordinates.printUnconvertibleWarning();
    if (nShapes > nRecords) {
        std::snprintf(message, sizeof message,
                      "\n[WRN] %i shape records have no attribute record and were ignored.",
                      nShapes - nRecords);
        printOut(message);
    }
    coordinates.printOutOfRangeWarning();
    attributes.printClosingWarnings();
}

}  // namespace orvtessel
