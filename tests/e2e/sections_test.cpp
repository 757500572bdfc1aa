// Feature sections, the record loop's progress line and the handling of
// records without coordinates.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expected.h"
#include "layer_writer.h"
#include "program_run.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::vector<Field> kTypeOnly = {{"T", FTString, 8, 0}};

// Converts the layer with type column T, label column L, and checks the
// console and the file byte for byte.
void expectConversion(const std::string& name, const Layer& layer, const std::string& kind,
                      const std::string& progressText, const std::string& sections,
                      const std::string& afterLoop = "") {
    SCOPED_TRACE(name);
    const fs::path dir = scratchFolder("Sections." + name);
    writeLayer(dir / "layer", layer);
    const RunResult run = runProgram(dir, {"layer.shp", "T", "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(maskRunningTime(run.out), convertedRun("layer.shp", kind, progressText, afterLoop));
    EXPECT_EQ(readFile(dir / "layer.shp.mp"), crlf(std::string(kDefaultHeader) + sections));
}

Layer layerOf(int shapeType, std::vector<Shape> shapes) {
    Layer layer;
    layer.shapeType = shapeType;
    layer.shapes = std::move(shapes);
    layer.fields = kTypeOnly;
    for (std::size_t i = 0; i < layer.shapes.size(); ++i) layer.records.push_back({std::to_string(i)});
    return layer;
}

TEST(Sections, Points) {
    // Latitude first, six decimals, exact binary ties away from zero.
    expectConversion("Points",
                     layerOf(SHPT_POINT, {point(-0.1234567, 51.5), point(0.0078125, -0.0078125),
                                          point(13.5, 52.25)}),
                     "Point", progress({0, 33, 67}),
                     "[POI]\nData0=(51.500000,-0.123457)\nType=0\n[END]\n\n"
                     "[POI]\nData0=(-0.007813,0.007813)\nType=1\n[END]\n\n"
                     "[POI]\nData0=(52.250000,13.500000)\nType=2\n[END]\n\n");
}

TEST(Sections, Polylines) {
    // One Data0= line per part: parts are never joined into one line.
    expectConversion(
        "Polylines",
        layerOf(SHPT_ARC, {multiPart(SHPT_ARC, {{{1, 2}, {3, 4}, {5, 6}}}),
                           multiPart(SHPT_ARC, {{{1, 1}, {2, 2}}, {{3, 3}, {4, 4}, {5, 5}}})}),
        "Polyline", progress({0, 50}),
        "[POLYLINE]\nData0=(2.000000,1.000000),(4.000000,3.000000),(6.000000,5.000000)\nType=0\n[END]\n\n"
        "[POLYLINE]\nData0=(1.000000,1.000000),(2.000000,2.000000)\n"
        "Data0=(3.000000,3.000000),(4.000000,4.000000),(5.000000,5.000000)\nType=1\n[END]\n\n");
}

TEST(Sections, PolygonsOfOneAndSeveralParts) {
    const auto square = std::vector<std::pair<double, double>>{{0, 0}, {0, 4}, {4, 4}, {4, 0}, {0, 0}};
    const auto hole = std::vector<std::pair<double, double>>{{1, 1}, {2, 1}, {2, 2}, {1, 1}};
    std::vector<Shape> shapes;
    for (int i = 0; i < 6; ++i) shapes.push_back(multiPart(SHPT_POLYGON, {{{0, 0}, {0, 1}, {1, 0}, {0, 0}}}));
    shapes.push_back(multiPart(SHPT_POLYGON, {square, hole}));  // record index 6
    shapes.push_back(multiPart(SHPT_POLYGON, {square}));
    std::string sections;
    for (int i = 0; i < 6; ++i) {
        sections += "[POLYGON]\nData0=(0.000000,0.000000),(1.000000,0.000000),(0.000000,1.000000),"
                    "(0.000000,0.000000)\nType=" + std::to_string(i) + "\n[END]\n\n";
    }
    const std::string squareLine =
        "Data0=(0.000000,0.000000),(4.000000,0.000000),(4.000000,4.000000),(0.000000,4.000000),"
        "(0.000000,0.000000)\n";
    sections += "[POLYGON]\n" + squareLine +
                "Data0=(1.000000,1.000000),(1.000000,2.000000),(2.000000,2.000000),(1.000000,1.000000)\n"
                "Type=6\nmpID=7\n[END]\n\n";
    sections += "[POLYGON]\n" + squareLine + "Type=7\n[END]\n\n";
    expectConversion("Polygons", layerOf(SHPT_POLYGON, shapes), "Polygon",
                     progress({0, 13, 25, 38, 50, 63, 75, 88}), sections);
}

TEST(Sections, FirstPartNotStartingAtZeroLosesNoVertex) {
    // The stored first part start is 1; vertex 0 still belongs to part 0.
    const fs::path dir = scratchFolder("Sections.FirstPartStart");
    Layer layer = layerOf(SHPT_POLYGON, {multiPart(SHPT_POLYGON, {{{0, 0}, {0, 1}, {1, 0}},
                                                                  {{5, 5}, {5, 6}, {6, 5}}})});
    writeLayer(dir / "layer", layer);
    // File header 100, record header 8, type 4, box 32, nParts 4, nPoints 4.
    patchInt32LE(dir / "layer.shp", 152, 1);
    const RunResult run = runProgram(dir, {"layer.shp", "T", "T"});
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf(std::string(kDefaultHeader) +
                   "[POLYGON]\nData0=(0.000000,0.000000),(1.000000,0.000000),(0.000000,1.000000)\n"
                   "Data0=(5.000000,5.000000),(6.000000,5.000000),(5.000000,6.000000)\n"
                   "Type=0\nmpID=1\n[END]\n\n"));
}

TEST(Sections, RecordsWithoutCoordinatesGetNoSection) {
    const char* warning2 = "\n[WRN] 2 records without coordinates were skipped (first: record 1).";
    // A null record in a point layer, and a point layer whose table has
    // more records than the geometry.
    {
        Layer layer = layerOf(SHPT_POINT, {nullShape(), point(1, 2), point(3, 4)});
        layer.records.push_back({"3"});
        expectConversion("NullAndMissingPoints", layer, "Point", progress({0, 25, 50, 75}),
                         "[POI]\nData0=(2.000000,1.000000)\nType=1\n[END]\n\n"
                         "[POI]\nData0=(4.000000,3.000000)\nType=2\n[END]\n\n",
                         warning2);
    }
    // Polylines and polygons without vertices, null records among them.
    for (int type : {SHPT_ARC, SHPT_POLYGON}) {
        Shape empty;
        empty.type = type;
        const Layer layer = layerOf(type, {empty, multiPart(type, {{{1, 1}, {2, 2}, {1, 2}, {1, 1}}}),
                                           nullShape()});
        const std::string head = type == SHPT_ARC ? "[POLYLINE]\n" : "[POLYGON]\n";
        expectConversion(type == SHPT_ARC ? "EmptyPolyline" : "EmptyPolygon", layer,
                         type == SHPT_ARC ? "Polyline" : "Polygon", progress({0, 33, 67}),
                         head + "Data0=(1.000000,1.000000),(2.000000,2.000000),(2.000000,1.000000),"
                                "(1.000000,1.000000)\nType=1\n[END]\n\n",
                         warning2);
    }
}

TEST(Sections, ShapesWithoutAttributeRecordsAreReported) {
    Layer layer = layerOf(SHPT_POINT, {point(1, 2), point(3, 4), point(5, 6), point(7, 8)});
    layer.records.resize(1);
    expectConversion("MoreShapes", layer, "Point", progress({0}),
                     "[POI]\nData0=(2.000000,1.000000)\nType=0\n[END]\n\n",
                     "\n[WRN] 3 shape records have no attribute record and were ignored.");
}

TEST(Sections, EmptyAttributeTable) {
    Layer layer = layerOf(SHPT_POLYGON, {multiPart(SHPT_POLYGON, {{{0, 0}, {0, 1}, {1, 0}, {0, 0}}}),
                                         multiPart(SHPT_POLYGON, {{{0, 0}, {0, 1}, {1, 0}, {0, 0}}})});
    layer.records.clear();
    const fs::path dir = scratchFolder("Sections.EmptyTable");
    writeLayer(dir / "layer", layer);
    const RunResult run = runProgram(dir, {"layer.shp", "T", "T"});
    EXPECT_EQ(maskRunningTime(run.out),
              std::string(kBanner) + kNoDictionary +
                  "[INF] The layer.shp file contains Polygon elements.\n"
                  "[WRN] No elements in .dbf file!\n"
                  "\n[WRN] 2 shape records have no attribute record and were ignored."
                  "\n[INF] layer.shp.mp file has been written out.\n[INF] Running time was: <T>\n");
    EXPECT_EQ(readFile(dir / "layer.shp.mp"), crlf(kDefaultHeader));
}

TEST(Sections, ProgressValuesKeepTheirOrderOfOperations) {
    // r / n * 100: record 23 of 40 shows 57 (23 * 100 / 40 would be 58).
    // 200 records: the last line shows 100.
    for (int n : {40, 200}) {
        std::vector<Shape> shapes(static_cast<std::size_t>(n), point(1, 1));
        const fs::path dir = scratchFolder("Sections.Progress" + std::to_string(n));
        writeLayer(dir / "layer", layerOf(SHPT_POINT, shapes));
        const RunResult run = runProgram(dir, {"layer.shp", "T", "T"});
        const std::string out = run.out;
        if (n == 40) {
            EXPECT_NE(out.find("\r[INF] Processing: 55%\r[INF] Processing: 57%\r[INF] Processing: 60%"),
                      std::string::npos);
        } else {
            EXPECT_NE(out.find("\r[INF] Processing: 99%\r[INF] Processing: 100%\n[INF] layer.shp.mp"),
                      std::string::npos);
        }
    }
}

}  // namespace
