// Writes the seed corpus: small real layers made with shapelib's writing
// API, each packed into one file in the harness's input format (see
// fuzz_harness.h). Usage: orvtessel_fuzz_seeds OUTPUT_FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <shapefil.h>

#include "fuzz_harness.h"
#include "layer_writer.h"

namespace {

namespace fs = std::filesystem;

using testsupport::multiPart;
using testsupport::nullShape;
using testsupport::point;

struct SeedLayer {
    std::string name;
    testsupport::Layer layer;
    std::string dictionary;  // empty: no dictionary file in the seed
    std::string prj;         // empty: no .prj (needs a dictionary part before it)
    std::string cpg;         // empty: no .cpg
    // Argument choices, bytes 0 and 1 of the input.
    unsigned char choice0 = 0;
    unsigned char choice1 = 0;
    // With `options`: bit 4 of byte 1 is set, bytes 2 and 3 follow, and the
    // type map and existing map parts come after the .cpg.
    bool options = false;
    unsigned char choice2 = 0;
    unsigned char choice3 = 0;
    std::string typeMap;      // empty: no type map part (nor an existing map)
    std::string existingMap;  // empty: no existing map part
};

void writeSeed(const fs::path& outputFolder, const fs::path& workFolder, const SeedLayer& seed) {
    const fs::path base = workFolder / seed.name;
    testsupport::writeLayer(base, seed.layer);
    const std::string separator(orvtesselfuzz::kSeparator, orvtesselfuzz::kSeparatorSize);
    std::string packed;
    packed += static_cast<char>(seed.choice0);
    packed += static_cast<char>(seed.options ? seed.choice1 | 0x10 : seed.choice1);
    if (seed.options) {
        packed += static_cast<char>(seed.choice2);
        packed += static_cast<char>(seed.choice3);
    }
    // The parts after the .dbf, in order; the last one given decides how
    // many are written (a part before it that is empty is an empty file).
    const std::vector<const std::string*> later = {&seed.dictionary, &seed.prj, &seed.cpg,
                                                   &seed.typeMap, &seed.existingMap};
    std::size_t nLater = 0;
    for (std::size_t i = 0; i < later.size(); ++i) {
        if (!later[i]->empty()) nLater = i + 1;
    }
    if (nLater > 3 && !seed.options) throw std::runtime_error("seed " + seed.name + " needs options");
    packed += testsupport::readFile(base.string() + ".shp");
    packed += separator;
    packed += testsupport::readFile(base.string() + ".shx");
    packed += separator;
    packed += testsupport::readFile(base.string() + ".dbf");
    for (std::size_t i = 0; i < nLater; ++i) {
        packed += separator;
        packed += *later[i];
    }
    std::ofstream out(outputFolder / (seed.name + ".bin"), std::ios::binary);
    out.write(packed.data(), static_cast<std::streamsize>(packed.size()));
    if (!out) throw std::runtime_error("cannot write seed " + seed.name);
}

std::vector<SeedLayer> seedLayers() {
    std::vector<SeedLayer> layers;

    SeedLayer points;
    points.name = "points";
    points.layer.shapeType = SHPT_POINT;
    points.layer.shapes = {point(12.5, 47.25), nullShape(), point(-0.0000005, 89.9999995),
                           point(179.9999999, -12.3456785)};
    points.layer.fields = {{"TYPE", FTString, 8, 0}, {"NAME", FTString, 20, 0},
                           {"POP", FTInteger, 9, 0}};
    points.layer.records = {{"0x2f00", "Mill\r\nRoad", "120"},
                            {"0x2f01", "", "7"},
                            {"0x0400", "Hill", ""},
                            {"0x2f00", "Deleted one", "3"}};
    points.layer.deletedRecords = {3};
    points.choice0 = 0x04;  // type: first column, label: second
    layers.push_back(points);

    SeedLayer lines;
    lines.name = "polylines";
    lines.layer.shapeType = SHPT_ARC;
    lines.layer.shapes = {
        multiPart(SHPT_ARC, {{{0, 0}, {1, 1}, {2, 0}}, {{5, 5}, {6, 6}}, {{9, 9}, {9.5, 9.25}, {10, 10}}}),
        nullShape(),
        multiPart(SHPT_ARC, {{{-1.5, 2.5}, {-1.25, 2.75}}})};
    lines.layer.fields = {{"KIND", FTString, 6, 0}, {"LABEL", FTString, 16, 0},
                          {"LEN", FTDouble, 12, 3}};
    lines.layer.records = {{"0x01", "Main street", "12.500"}, {"0x02", "Null shape", "0.000"},
                           {"0x03", "Short", "1.250"}};
    lines.choice0 = 0x14;  // include-all "n"
    layers.push_back(lines);

    SeedLayer polygons;
    polygons.name = "polygons";
    polygons.layer.shapeType = SHPT_POLYGON;
    polygons.layer.shapes = {
        multiPart(SHPT_POLYGON, {{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}},
                                 {{2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}},
                                 {{6, 6}, {8, 6}, {8, 8}, {6, 8}, {6, 6}}}),
        multiPart(SHPT_POLYGON, {{{20, 20}, {20, 21}, {21, 21}, {20, 20}}}),
        nullShape()};
    polygons.layer.fields = {{"TYP", FTString, 6, 0}, {"NAM", FTString, 10, 0}};
    polygons.layer.records = {{"0x4a", "Lake"}, {"0x4b", "Island"}, {"0x4c", ""}};
    polygons.choice0 = 0x24;
    layers.push_back(polygons);

    SeedLayer wide;
    wide.name = "many-columns";
    wide.layer.shapeType = SHPT_POINT;
    wide.layer.shapes = {point(1, 2), point(3, 4)};
    for (int i = 0; i < 24; ++i) {
        const DBFFieldType type = i % 3 == 0 ? FTString : (i % 3 == 1 ? FTInteger : FTDouble);
        wide.layer.fields.push_back({"COL" + std::to_string(i), type, 10, type == FTDouble ? 2 : 0});
    }
    for (int r = 0; r < 2; ++r) {
        std::vector<std::string> row;
        for (int i = 0; i < 24; ++i) {
            row.push_back(i % 3 == 0 ? "t" + std::to_string(r * 100 + i)
                                     : (i % 3 == 1 ? std::to_string(r + i) : "3.25"));
        }
        wide.layer.records.push_back(row);
    }
    wide.choice0 = 0x08 | 0x01;  // type: second column, label: last
    layers.push_back(wide);

    SeedLayer withDictionary = polygons;
    withDictionary.name = "polygons-dictionary";
    withDictionary.dictionary =
        ";dictionary\r\n[IMG ID]\r\nID=\r\nName=\nCodepage=1252\r\n[END-IMG ID]\r\n\rlast";
    withDictionary.choice0 = 0xC4;  // dictionary, map ID and name
    withDictionary.choice1 = 0x04;
    layers.push_back(withDictionary);

    SeedLayer idOnly = points;
    idOnly.name = "points-dictionary-id";
    idOnly.dictionary = "[IMG ID]\nID=\nName=\n[END-IMG ID]\n";
    idOnly.choice0 = 0x94;  // dictionary and map ID, include-all "n"
    idOnly.choice1 = 0x01;  // layer named without ".shp"
    layers.push_back(idOnly);

    SeedLayer nulls;
    nulls.name = "only-nulls";
    nulls.layer.shapeType = SHPT_POINT;
    nulls.layer.shapes = {nullShape(), nullShape()};
    nulls.layer.fields = {{"TYPE", FTString, 4, 0}};
    nulls.layer.records = {{"a"}, {"b"}};
    layers.push_back(nulls);

    SeedLayer multipoint;
    multipoint.name = "multipoint";
    multipoint.layer.shapeType = SHPT_MULTIPOINT;
    multipoint.layer.shapes = {multiPart(SHPT_MULTIPOINT, {{{1, 1}, {2, 2}}})};
    multipoint.layer.fields = {{"TYPE", FTString, 4, 0}};
    multipoint.layer.records = {{"x"}};
    layers.push_back(multipoint);

    SeedLayer polylineZ;
    polylineZ.name = "polyline-z";
    polylineZ.layer.shapeType = SHPT_ARCZ;
    polylineZ.layer.shapes = {multiPart(SHPT_ARCZ, {{{1, 1}, {2, 2}}, {{3, 3}, {4, 4}}})};
    polylineZ.layer.fields = {{"TYPE", FTString, 4, 0}};
    polylineZ.layer.records = {{"x"}};
    layers.push_back(polylineZ);

    SeedLayer empty;
    empty.name = "empty";
    empty.layer.shapeType = SHPT_POLYGON;
    empty.layer.fields = {{"TYPE", FTString, 4, 0}};
    layers.push_back(empty);

    SeedLayer shortTable = lines;
    shortTable.name = "table-shorter-than-shapes";
    shortTable.layer.records.resize(1);
    layers.push_back(shortTable);

    // A projected layer with its .prj and UTF-8 text declared by a .cpg,
    // so that the fuzzer starts with both conversions on.
    SeedLayer projected = lines;
    projected.name = "lines-utm-utf8";
    projected.layer.shapes = {multiPart(SHPT_ARC, {{{389000.5, 5819000.25}, {391234.0, 5820111.5}}}),
                              multiPart(SHPT_ARC, {{{500000.0, 0.0}, {1e30, 0.0}}})};
    projected.layer.records = {{"0x01", "\xc5\x81\xc3\xb3\x64\xc5\xba", "\xd0\x9c\xd0\xbe"},
                               {"primary", "a\xff", "x"}};
    projected.choice0 = 0x40;  // the dictionary, which declares code page 1250
    projected.prj =
        "PROJCS[\"WGS_1984_UTM_Zone_33N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID["
        "\"WGS_1984\",6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\","
        "0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\","
        "500000.0],PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",15.0],"
        "PARAMETER[\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";
    projected.cpg = "UTF-8";
    projected.dictionary = "[IMG ID]\r\nCodepage=1250\r\n[END-IMG ID]\r\n";
    layers.push_back(projected);

    // A type map and end levels, then the same sections appended to the map
    // the first run wrote with a dictionary declaring code page 1252 and
    // three levels (so that end level 3 draws a warning).
    SeedLayer typedPoints = points;
    typedPoints.name = "points-type-map-run-then-append";
    typedPoints.options = true;
    typedPoints.choice0 = 0x44;  // type: first column, label: second; dictionary
    typedPoints.choice2 = 0x51;  // --type-map FILE, --end-level 3, -q
    typedPoints.choice3 = 0x26;  // a run, then an append run; UTF-8; -o FILE
    typedPoints.dictionary = "[IMG ID]\r\nID=\r\nName=\r\nCodepage=1252\r\nLevels=3\r\n[END-IMG ID]\r\n";
    typedPoints.typeMap = "# point types\n0x2f00 = 0x2f01 2\n\n  hill = 0x0400\r\n* = 0x6400 1\n";
    layers.push_back(typedPoints);

    // Names as classes in the type map, appended through a symbolic link to
    // a map made elsewhere whose last line has no line end.
    SeedLayer classedLines = lines;
    classedLines.name = "polylines-classes-append-link";
    classedLines.options = true;
    classedLines.choice0 = 0x11;  // type: second column, label: first; include-all "n"
    classedLines.choice2 = 0x32;  // --type-map=FILE, --end-level=0
    classedLines.choice3 = 0x6F;  // append through a link; CP1251; --output=FILE
    classedLines.typeMap = "Main Street = 0x02 1\nshort = 0x05\n* = 0x06\n";
    classedLines.existingMap =
        "; made elsewhere\r\n[IMG ID]\r\nCodepage=1251\r\nLevels=2\r\n[END-IMG ID]\r\n\r\n"
        "[POLYLINE]\r\nType=0x01\r\nData0=(1.0,2.0),(3.0,4.0)\r\n[END]";
    layers.push_back(classedLines);

    return layers;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    try {
        const fs::path outputFolder = argv[1];
        fs::create_directories(outputFolder);
        const fs::path workFolder = outputFolder / ".layers";
        fs::create_directories(workFolder);
        const std::vector<SeedLayer> layers = seedLayers();
        for (const SeedLayer& layer : layers) writeSeed(outputFolder, workFolder, layer);
        fs::remove_all(workFolder);
        std::fprintf(stderr, "%zu seeds written to %s\n", layers.size(), argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvtessel_fuzz_seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
