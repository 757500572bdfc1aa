// The layer kind, decided once per run, and the loop that writes one
// section per attribute record.
#pragma once

#include <optional>
#include <string>

#include <shapefil.h>

#include "attribute_lines.h"
#include "coordinate_system.h"
#include "output_stream.h"

namespace orvtessel {

enum class LayerKind { Point, Polyline, Polygon };

// Reads the probe record (index 1; when it is null or unreadable, the next
// ones in order, then index 0), prints the kind message and returns the
// kind, or nothing when the run must end (null or unsupported layer).
// A geometry without records takes its kind from its header.
std::optional<LayerKind> probeLayerKind(SHPHandle hSHP, const std::string& layerPath);

// The "\r[INF] Processing: N%" line after each record. The lines are
// handed to the console in blocks; finish() (or the destructor) hands over
// the rest, and must come before any other message.
class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void reportProgress(int record, int nRecords);
    void finish();

private:
    std::string pending_;
    std::string lastText_;
    bool shown_;
    bool toTerminal_;
};

// Writes a section for every record of the attribute table that has
// coordinates, printing the progress line after each record, then the
// closing warnings: records skipped, shapes without attributes, and what
// the coordinate system and the attribute lines report.
void runRecordLoop(OutputStream& out, SHPHandle hSHP, DBFHandle hDBF, LayerKind kind,
                   CoordinateSystem& coordinates, AttributeLines& attributes);

}  // namespace orvtessel
