// Writes the layers that the map compiler test converts and compiles, each
// one a shape a compiler must accept from the converter:
//
//   orvtessel_make_compiler_layers <folder>
//
//   points   points with both signs of latitude and longitude, one null record
//            (skipped by the converter), labels in code page 1250
//   lines    a line of three parts, a one-part line, an empty label
//   holes    a polygon with a hole, a polygon of two islands, a plain one
//   breaks   a point whose label and extra column hold CR and LF bytes
//   utm      points in WGS 84 / UTM zone 33N with their .prj; the WGS 84
//            positions they were projected from are listed one a line,
//            "lat lon", in <folder>/utm.positions
//   utf8     points whose labels are UTF-8, declared by a .cpg file; the
//            labels the map must hold are listed as "utf8" (code page 1250)
//            and "utf8-unicode" (UTF-8) in labels.txt
//   classes  one-part lines of road classes (motorway, primary, ...), a few
//            km each, and a zigzag of 200 vertices; only the columns TYPE
//            (the class) and NAME. <folder>/classes.typemap gives each class
//            a type and most an end level; <folder>/classes.levels lists the
//            end level each record must get, one a line (0 for none: the
//            most detailed level only)
//   sights   points      } around Brno, with classes: simple shapes, each
//   blocks   boxes       } record one object of the compiled map
//
// The other layers have the columns TYPE, NAME and NOTE. The labels are
// listed one a line, as hexadecimal bytes, in <folder>/labels.txt: the
// test looks for each of them in the compiled maps. Every record of
// classes, sights and blocks has a label, so labels.txt also counts them.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <proj.h>

#include "layer_writer.h"

namespace fs = std::filesystem;
using testsupport::Field;
using testsupport::Layer;
using testsupport::multiPart;
using testsupport::nullShape;
using testsupport::point;

namespace {

using Ring = std::vector<std::pair<double, double>>;

const std::vector<Field> kFields = {
    {"TYPE", FTString, 8, 0}, {"NAME", FTString, 60, 0}, {"NOTE", FTString, 40, 0}};

// The label as the compiled map stores it: CR and LF become spaces.
std::string storedLabel(std::string label) {
    for (char& c : label) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return label;
}

std::string hexBytes(const std::string& text) {
    std::string hex;
    char pair[3];
    for (const char c : text) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        hex += pair;
    }
    return hex;
}

// A closed ring through the corners of the box, clockwise (an outer ring)
// or counter-clockwise (a hole), as shapefiles store them.
Ring box(double west, double south, double east, double north, bool clockwise) {
    if (clockwise) {
        return {{west, south}, {west, north}, {east, north}, {east, south}, {west, south}};
    }
    return {{west, south}, {east, south}, {east, north}, {west, north}, {west, south}};
}

Layer pointLayer() {
    Layer layer;
    layer.shapeType = SHPT_POINT;
    layer.fields = kFields;
    // Around 0,0, so that the coordinates take both signs but the map stays
    // small (a compiler subdivides the whole extent).
    layer.shapes = {point(0.125, 0.25), nullShape(), point(-0.125, 0.25), point(-0.125, -0.25),
                    point(0.125, -0.25)};
    layer.records = {
        {"0x2f06", "\x8elu\x9d ou\xe8k\xfd k\xf9\xf2 \xfap\xecl \xef\xe1\x62\x65lsk\xe9 \xf3\x64y",
         "st\xf8\x65\x64"},
        {"0x2f06", "Null record", "skipped"},
        {"0x2c04", "\x8a\x8c\x8f\x9a\x9c\x9f\xa3\xa5\xaa\xaf\xb3\xb9\xba\xbc\xbe\xbf", "north-west"},
        {"0x2a00", "Caf\xe9 \xabSydney\xbb 100%", "south-west"},
        {"0x6401", "Plaza de Armas", ""},
    };
    return layer;
}

Layer lineLayer() {
    Layer layer;
    layer.shapeType = SHPT_ARC;
    layer.fields = kFields;
    layer.shapes = {
        multiPart(SHPT_ARC, {{{16.5965, 49.2212}, {16.5989, 49.2219}, {16.6013, 49.2225}},
                             {{16.6031, 49.2229}, {16.6054, 49.2236}},
                             {{16.6100, 49.2250}, {16.6120, 49.2260}, {16.6140, 49.2262}}}),
        multiPart(SHPT_ARC, {{{16.6012, 49.1930}, {16.6029, 49.1945}, {16.6040, 49.1961}}}),
        multiPart(SHPT_ARC, {{{16.6200, 49.1600}, {16.6405, 49.1582}}}),
    };
    layer.records = {
        {"0x0006", "K\xf8i\x9e\xedkova", "three parts"},
        {"0x0004", "Husova", "one part"},
        {"0x0001", "", "no label"},
    };
    return layer;
}

Layer holeLayer() {
    Layer layer;
    layer.shapeType = SHPT_POLYGON;
    layer.fields = kFields;
    layer.shapes = {
        multiPart(SHPT_POLYGON, {box(16.611, 49.206, 16.620, 49.211, true),
                                 box(16.614, 49.207, 16.616, 49.209, false)}),
        multiPart(SHPT_POLYGON, {box(16.630, 49.200, 16.632, 49.202, true),
                                 box(16.634, 49.200, 16.636, 49.202, true)}),
        multiPart(SHPT_POLYGON, {box(16.600, 49.180, 16.610, 49.185, true)}),
    };
    layer.records = {
        {"0x17", "L\x75\x9e\xe1nky s rybn\xedkem", "hole"},
        {"0x3c", "Ostr\xf9vky", "two islands"},
        {"0x4e", "Zahr\xe1\x64ka", "plain"},
    };
    return layer;
}

Layer breakLayer() {
    Layer layer;
    layer.shapeType = SHPT_POINT;
    layer.fields = kFields;
    layer.shapes = {point(16.6, 49.2), point(16.61, 49.21)};
    layer.records = {
        {"0x2f06", "Dv\xf9r\r\nKr\xe1lov\xe9", "line\nbreak"},
        {"0x2f06", "Carriage\rreturn", "\r"},
    };
    return layer;
}

// Around Brno: zone 33 spans 12-18 E, and these lie at 16.5-16.7 E.
const std::vector<std::pair<double, double>> kUtmLonLat = {
    {16.6068, 49.1951}, {16.5003, 49.2502}, {16.7010, 49.1499}, {16.6500, 49.2200}};

const char* const kUtm33Prj =
    "PROJCS[\"WGS_1984_UTM_Zone_33N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID["
    "\"WGS_1984\",6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\","
    "0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],"
    "PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",15.0],PARAMETER["
    "\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";

// The points of kUtmLonLat, projected with PROJ to UTM zone 33N.
Layer utmLayer() {
    PJ_CONTEXT* ctx = proj_context_create();
    PJ* raw = proj_create_crs_to_crs(ctx, "EPSG:4326", "EPSG:32633", nullptr);
    PJ* lonLatToUtm = raw != nullptr ? proj_normalize_for_visualization(ctx, raw) : nullptr;
    if (lonLatToUtm == nullptr) throw std::runtime_error("PROJ cannot project to EPSG:32633");
    Layer layer;
    layer.shapeType = SHPT_POINT;
    layer.fields = kFields;
    int n = 0;
    for (const auto& [lon, lat] : kUtmLonLat) {
        PJ_COORD c = proj_coord(lon, lat, 0, 0);
        c = proj_trans(lonLatToUtm, PJ_FWD, c);
        layer.shapes.push_back(point(c.xy.x, c.xy.y));
        layer.records.push_back({"0x2f06", "UTM point " + std::to_string(++n), ""});
    }
    proj_destroy(lonLatToUtm);
    proj_destroy(raw);
    proj_context_destroy(ctx);
    return layer;
}

struct Utf8Label {
    const char* utf8;
    const char* cp1250;  // as the converter writes it for code page 1250
};
const Utf8Label kUtf8Labels[] = {
    {"\xc5\x81\xc3\xb3\x64\xc5\xba", "\xa3\xf3\x64\x9f"},  // Łódź
    {"Stra\xc3\x9f\x65", "Stra\xdf\x65"},                  // Straße
    {"\xd0\xa1\xd0\xb0\xd0\xbd\xd0\xba\xd1\x82-\xd0\x9f\xd0\xb5\xd1\x82\xd0\xb5\xd1\x80\xd0\xb1\xd1\x83\xd1\x80\xd0\xb3",
     "Sankt-Peterburg"},                                    // Санкт-Петербург
};

Layer utf8Layer() {
    Layer layer;
    layer.shapeType = SHPT_POINT;
    layer.fields = kFields;
    double x = 16.60;
    for (const Utf8Label& label : kUtf8Labels) {
        layer.shapes.push_back(point(x, 49.20));
        layer.records.push_back({"0x2f06", label.utf8, ""});
        x += 0.01;
    }
    return layer;
}

// A road class of the classes layer, its rule in classes.typemap and the
// end level the rule gives it; a class without a rule of its own takes the
// "*" rule.
struct RoadClass {
    const char* value;
    const char* rule;  // nullptr: the "*" rule, kDefaultRule
    int endLevel;
    int nLines;
};
const RoadClass kRoadClasses[] = {
    {"motorway", "0x01 3", 3, 2},  {"primary", "0x03 2", 2, 2}, {"residential", "0x06 1", 1, 3},
    {"track", "0x0a", 0, 2},       {"service", nullptr, 1, 1},
};
const char* const kDefaultRule = "0x07 1";

// Lines of 0.08 degrees (about 6 km) from west to east, 0.01 degrees
// (1.1 km) apart. At the widest level of the built-in header (18 bits, a
// unit of 0.00137 degrees) a line still spans about 58 units and keeps its
// own row of units: a compiler drops lines that shrink to a single unit.
Layer classLayer() {
    Layer layer;
    layer.shapeType = SHPT_ARC;
    layer.fields = {{"TYPE", FTString, 16, 0}, {"NAME", FTString, 40, 0}};
    int row = 0;
    for (const RoadClass& roadClass : kRoadClasses) {
        for (int n = 1; n <= roadClass.nLines; ++n, ++row) {
            const double lat = 49.05 + 0.01 * row;
            layer.shapes.push_back(
                multiPart(SHPT_ARC, {{{16.50, lat}, {16.54, lat + 0.002}, {16.58, lat}}}));
            layer.records.push_back(
                {roadClass.value, std::string(roadClass.value) + " " + std::to_string(n)});
        }
    }
    // One more track, a zigzag of 200 vertices below the others: its
    // coordinate deltas take more than 255 bytes, so the compiled line
    // stores its length in 2 bytes. Fewer than 250 vertices, so that the
    // compiler does not split it.
    std::vector<std::pair<double, double>> zigzag;
    for (int i = 0; i < 200; ++i) zigzag.emplace_back(16.50 + 0.0004 * i, 49.02 + (i % 2 == 0 ? 0.0 : 0.02));
    layer.shapes.push_back(multiPart(SHPT_ARC, {zigzag}));
    layer.records.push_back({"track", "track zigzag"});
    return layer;
}

Layer sightLayer() {
    Layer layer;
    layer.shapeType = SHPT_POINT;
    layer.fields = kFields;
    layer.shapes = {point(16.52, 49.20), point(16.56, 49.21), point(16.60, 49.22)};
    layer.records = {{"0x2f06", "Sight one", ""}, {"0x2c04", "Sight two", ""}, {"0x6401", "Sight three", ""}};
    return layer;
}

Layer blockLayer() {
    Layer layer;
    layer.shapeType = SHPT_POLYGON;
    layer.fields = kFields;
    layer.shapes = {multiPart(SHPT_POLYGON, {box(16.50, 49.25, 16.52, 49.26, true)}),
                    multiPart(SHPT_POLYGON, {box(16.54, 49.25, 16.56, 49.26, true)}),
                    multiPart(SHPT_POLYGON, {box(16.58, 49.25, 16.60, 49.26, true)})};
    layer.records = {{"0x17", "Block one", ""}, {"0x4e", "Block two", ""}, {"0x3c", "Block three", ""}};
    return layer;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    try {
        fs::create_directories(folder);
        const std::vector<std::pair<const char*, Layer>> layers = {
            {"points", pointLayer()}, {"lines", lineLayer()}, {"holes", holeLayer()},
            {"breaks", breakLayer()}, {"utm", utmLayer()}, {"classes", classLayer()},
            {"sights", sightLayer()}, {"blocks", blockLayer()}};
        std::ofstream labels(folder / "labels.txt", std::ios::trunc);
        for (const auto& [name, layer] : layers) {
            testsupport::writeLayer(folder / name, layer);
            for (std::size_t r = 0; r < layer.records.size(); ++r) {
                const std::string& label = layer.records[r][1];
                // Skipped and unlabelled records leave no label in the map.
                if (layer.shapes[r].type == SHPT_NULL || label.empty()) continue;
                labels << name << ' ' << hexBytes(storedLabel(label)) << '\n';
            }
        }
        testsupport::writeLayer(folder / "utf8", utf8Layer());
        testsupport::writeFile(folder / "utf8.cpg", "UTF-8\n");
        for (const Utf8Label& label : kUtf8Labels) {
            labels << "utf8 " << hexBytes(label.cp1250) << '\n';
            labels << "utf8-unicode " << hexBytes(label.utf8) << '\n';
        }
        if (!labels) throw std::runtime_error("cannot write labels.txt");
        testsupport::writeFile(folder / "utm.prj", kUtm33Prj);
        std::ofstream positions(folder / "utm.positions", std::ios::trunc);
        char line[64];
        for (const auto& [lon, lat] : kUtmLonLat) {
            std::snprintf(line, sizeof line, "%.6f %.6f\n", lat, lon);
            positions << line;
        }
        if (!positions) throw std::runtime_error("cannot write utm.positions");

        std::string typeMap = "# road class = type [end level]\n";
        for (const RoadClass& roadClass : kRoadClasses) {
            if (roadClass.rule != nullptr) typeMap += std::string(roadClass.value) + " = " + roadClass.rule + "\n";
        }
        typeMap += std::string("* = ") + kDefaultRule + "\n";
        testsupport::writeFile(folder / "classes.typemap", typeMap);
        std::string levels;
        for (const std::vector<std::string>& record : classLayer().records) {
            for (const RoadClass& roadClass : kRoadClasses) {
                if (record[0] == roadClass.value) levels += std::to_string(roadClass.endLevel) + "\n";
            }
        }
        testsupport::writeFile(folder / "classes.levels", levels);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
