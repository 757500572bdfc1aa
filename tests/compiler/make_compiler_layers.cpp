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
//
// Every layer has the columns TYPE, NAME and NOTE. The labels are listed
// one a line, as hexadecimal bytes, in <folder>/labels.txt: the test looks
// for each of them in the compiled maps.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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
            {"breaks", breakLayer()}};
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
        if (!labels) throw std::runtime_error("cannot write labels.txt");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
