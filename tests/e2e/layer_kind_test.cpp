// The layer kind: decided from the probe record, which looks past null
// records; null and unsupported layers end the run after the header.
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

Layer layerOf(int shapeType, std::vector<Shape> shapes, std::size_t nRecords) {
    Layer layer;
    layer.shapeType = shapeType;
    layer.shapes = std::move(shapes);
    layer.fields = {{"T", FTString, 8, 0}};
    for (std::size_t i = 0; i < nRecords; ++i) layer.records.push_back({std::to_string(i)});
    return layer;
}

Shape polygon() { return multiPart(SHPT_POLYGON, {{{0, 0}, {0, 1}, {1, 0}, {0, 0}}}); }
const char* const kPolygonSection =
    "[POLYGON]\nData0=(0.000000,0.000000),(1.000000,0.000000),(0.000000,1.000000),"
    "(0.000000,0.000000)\n";

TEST(LayerKind, EndsAfterTheHeaderForNullAndUnsupportedLayers) {
    Shape multiPoint;
    multiPoint.type = SHPT_MULTIPOINT;
    multiPoint.x = {1, 2};
    multiPoint.y = {3, 4};
    Shape polygonZ = polygon();
    polygonZ.type = SHPT_POLYGONZ;
    const struct {
        const char* name;
        Layer layer;
        const char* message;
    } cases[] = {
        {"AllNull", layerOf(SHPT_POINT, {nullShape(), nullShape(), nullShape()}, 3),
         "[CRIT] The layer.shp file contains NULL elements. Exiting...\n"},
        {"MultiPoint", layerOf(SHPT_MULTIPOINT, {multiPoint, multiPoint}, 2),
         "[CRIT] The layer.shp file contains elements that currently not supported. Exiting...\n"},
        {"PolygonZ", layerOf(SHPT_POLYGONZ, {polygonZ, polygonZ}, 2),
         "[CRIT] The layer.shp file contains elements that currently not supported. Exiting...\n"},
        {"EmptyNullHeader", layerOf(SHPT_NULL, {}, 0),
         "[CRIT] The layer.shp file contains NULL elements. Exiting...\n"},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder(std::string("LayerKind.End.") + c.name);
        writeLayer(dir / "layer", c.layer);
        const RunResult run = runProgram(dir, {"layer.shp", "T", "T"});
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.out, std::string(kBanner) + kNoDictionary + c.message) << c.name;
        // A refused layer leaves no header-only file that make would take
        // as up to date.
        EXPECT_FALSE(fs::exists(dir / "layer.shp.mp")) << c.name;
    }
}

TEST(LayerKind, ProbeLooksPastNullRecords) {
    const struct {
        const char* name;
        Layer layer;
        std::string progressText;
        std::string sections;
        std::string warnings;
    } cases[] = {
        // Record 1 null: record 2 decides.
        {"Record2", layerOf(SHPT_POLYGON, {polygon(), nullShape(), polygon()}, 3), progress({0, 33, 67}),
         std::string(kPolygonSection) + "Type=0\n[END]\n\n" + kPolygonSection + "Type=2\n[END]\n\n",
         "\n[WRN] 1 records without coordinates were skipped (first: record 2)."},
        // Records 1 and 2 null: record 0 decides.
        {"Record0", layerOf(SHPT_POLYGON, {polygon(), nullShape(), nullShape()}, 3), progress({0, 33, 67}),
         std::string(kPolygonSection) + "Type=0\n[END]\n\n",
         "\n[WRN] 2 records without coordinates were skipped (first: record 2)."},
        // One shape record: there is no record 1.
        {"SingleRecord", layerOf(SHPT_POLYGON, {polygon()}, 1), progress({0}),
         std::string(kPolygonSection) + "Type=0\n[END]\n\n", ""},
        // A null record 0 before a polygon converts; record 0 gets no section.
        {"NullFirst", layerOf(SHPT_POLYGON, {nullShape(), polygon()}, 2), progress({0, 50}),
         std::string(kPolygonSection) + "Type=1\n[END]\n\n",
         "\n[WRN] 1 records without coordinates were skipped (first: record 1)."},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder(std::string("LayerKind.Probe.") + c.name);
        writeLayer(dir / "layer", c.layer);
        const RunResult run = runProgram(dir, {"layer.shp", "T", "T"});
        EXPECT_EQ(maskRunningTime(run.out), convertedRun("layer.shp", "Polygon", c.progressText, c.warnings))
            << c.name;
        EXPECT_EQ(readFile(dir / "layer.shp.mp"), crlf(kDefaultHeader + c.sections)) << c.name;
    }
}

TEST(LayerKind, GeometryWithoutRecordsTakesTheHeaderType) {
    const struct {
        int shapeType;
        const char* kind;
    } cases[] = {{SHPT_POINT, "Point"}, {SHPT_ARC, "Polyline"}, {SHPT_POLYGON, "Polygon"}};
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder("LayerKind.EmptyGeometry");
        writeLayer(dir / "layer", layerOf(c.shapeType, {}, 2));
        const RunResult run = runProgram(dir, {"layer.shp", "T", "T"});
        EXPECT_EQ(maskRunningTime(run.out),
                  convertedRun("layer.shp", c.kind, progress({0, 50}),
                               "\n[WRN] 2 records without coordinates were skipped (first: record 1)."))
            << c.kind;
        EXPECT_EQ(readFile(dir / "layer.shp.mp"), crlf(kDefaultHeader));
    }
}

}  // namespace
