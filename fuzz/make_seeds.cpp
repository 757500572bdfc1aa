// Writes the seed corpus: small real layers made with shapelib's writing
// API, each packed into one file in the harness's input format (see
// fuzz_harness.h). Usage: orvtessel_fuzz_seeds OUTPUT_FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <shapefil.h>

#include "fuzz_harness.h"

namespace {

namespace fs = std::filesystem;

using Ring = std::vector<std::pair<double, double>>;

struct SeedShape {
    int type = SHPT_NULL;  // SHPT_NULL writes a null record
    std::vector<Ring> parts;
};

struct SeedField {
    std::string name;
    DBFFieldType type = FTString;
    int width = 12;
    int decimals = 0;
};

struct SeedLayer {
    std::string name;
    int shapeType = SHPT_POINT;
    std::vector<SeedShape> shapes;
    std::vector<SeedField> fields;
    std::vector<std::vector<std::string>> rows;
    std::vector<int> deletedRows;
    std::string dictionary;  // empty: no dictionary file in the seed
    // Argument choices, bytes 0 and 1 of the input.
    unsigned char choice0 = 0;
    unsigned char choice1 = 0;
};

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeShapes(const std::string& base, const SeedLayer& layer) {
    SHPHandle hSHP = SHPCreate(base.c_str(), layer.shapeType);
    if (hSHP == nullptr) throw std::runtime_error("SHPCreate failed for " + base);
    for (const SeedShape& shape : layer.shapes) {
        std::vector<int> starts;
        std::vector<double> x;
        std::vector<double> y;
        for (const Ring& part : shape.parts) {
            starts.push_back(static_cast<int>(x.size()));
            for (const auto& [px, py] : part) {
                x.push_back(px);
                y.push_back(py);
            }
        }
        SHPObject* object =
            shape.type == SHPT_NULL
                ? SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr)
                : SHPCreateObject(shape.type, -1, static_cast<int>(starts.size()),
                                  starts.empty() ? nullptr : starts.data(), nullptr,
                                  static_cast<int>(x.size()), x.data(), y.data(), nullptr,
                                  nullptr);
        SHPWriteObject(hSHP, -1, object);
        SHPDestroyObject(object);
    }
    SHPClose(hSHP);
}

void writeTable(const std::string& base, const SeedLayer& layer) {
    DBFHandle hDBF = DBFCreate(base.c_str());
    if (hDBF == nullptr) throw std::runtime_error("DBFCreate failed for " + base);
    for (const SeedField& field : layer.fields) {
        DBFAddField(hDBF, field.name.c_str(), field.type, field.width, field.decimals);
    }
    for (std::size_t r = 0; r < layer.rows.size(); ++r) {
        const int record = static_cast<int>(r);
        for (std::size_t f = 0; f < layer.rows[r].size(); ++f) {
            const std::string& value = layer.rows[r][f];
            if (value.empty()) {
                DBFWriteNULLAttribute(hDBF, record, static_cast<int>(f));
            } else {
                // The raw text, so a numeric column keeps exactly these bytes.
                std::string raw = value;
                DBFWriteAttributeDirectly(hDBF, record, static_cast<int>(f), raw.data());
            }
        }
    }
    for (int deleted : layer.deletedRows) DBFMarkRecordDeleted(hDBF, deleted, 1);
    DBFClose(hDBF);
}

void writeSeed(const fs::path& outputFolder, const fs::path& workFolder, const SeedLayer& layer) {
    const std::string base = (workFolder / layer.name).string();
    writeShapes(base, layer);
    writeTable(base, layer);
    const std::string separator(orvtesselfuzz::kSeparator, orvtesselfuzz::kSeparatorSize);
    std::string packed;
    packed += static_cast<char>(layer.choice0);
    packed += static_cast<char>(layer.choice1);
    packed += readBytes(base + ".shp");
    packed += separator;
    packed += readBytes(base + ".shx");
    packed += separator;
    packed += readBytes(base + ".dbf");
    if (!layer.dictionary.empty()) {
        packed += separator;
        packed += layer.dictionary;
    }
    std::ofstream out(outputFolder / (layer.name + ".bin"), std::ios::binary);
    out.write(packed.data(), static_cast<std::streamsize>(packed.size()));
    if (!out) throw std::runtime_error("cannot write seed " + layer.name);
}

SeedShape pointAt(double x, double y) { return {SHPT_POINT, {{{x, y}}}}; }
SeedShape nullShape() { return {}; }

std::vector<SeedLayer> seedLayers() {
    std::vector<SeedLayer> layers;

    SeedLayer points;
    points.name = "points";
    points.shapeType = SHPT_POINT;
    points.shapes = {pointAt(12.5, 47.25), nullShape(), pointAt(-0.0000005, 89.9999995),
                     pointAt(179.9999999, -12.3456785)};
    points.fields = {{"TYPE", FTString, 8, 0}, {"NAME", FTString, 20, 0},
                     {"POP", FTInteger, 9, 0}};
    points.rows = {{"0x2f00", "Mill\r\nRoad", "120"},
                   {"0x2f01", "", "7"},
                   {"0x0400", "Hill", ""},
                   {"0x2f00", "Deleted one", "3"}};
    points.deletedRows = {3};
    points.choice0 = 0x04;  // type: first column, label: second
    layers.push_back(points);

    SeedLayer lines;
    lines.name = "polylines";
    lines.shapeType = SHPT_ARC;
    lines.shapes = {
        {SHPT_ARC, {{{0, 0}, {1, 1}, {2, 0}}, {{5, 5}, {6, 6}}, {{9, 9}, {9.5, 9.25}, {10, 10}}}},
        nullShape(),
        {SHPT_ARC, {{{-1.5, 2.5}, {-1.25, 2.75}}}}};
    lines.fields = {{"KIND", FTString, 6, 0}, {"LABEL", FTString, 16, 0},
                    {"LEN", FTDouble, 12, 3}};
    lines.rows = {{"0x01", "Main street", "12.500"}, {"0x02", "Null shape", "0.000"},
                  {"0x03", "Short", "1.250"}};
    lines.choice0 = 0x14;  // include-all "n"
    layers.push_back(lines);

    SeedLayer polygons;
    polygons.name = "polygons";
    polygons.shapeType = SHPT_POLYGON;
    polygons.shapes = {
        {SHPT_POLYGON,
         {{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}},
          {{2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}},
          {{6, 6}, {8, 6}, {8, 8}, {6, 8}, {6, 6}}}},
        {SHPT_POLYGON, {{{20, 20}, {20, 21}, {21, 21}, {20, 20}}}},
        nullShape()};
    polygons.fields = {{"TYP", FTString, 6, 0}, {"NAM", FTString, 10, 0}};
    polygons.rows = {{"0x4a", "Lake"}, {"0x4b", "Island"}, {"0x4c", ""}};
    polygons.choice0 = 0x24;
    layers.push_back(polygons);

    SeedLayer wide;
    wide.name = "many-columns";
    wide.shapeType = SHPT_POINT;
    wide.shapes = {pointAt(1, 2), pointAt(3, 4)};
    for (int i = 0; i < 24; ++i) {
        const DBFFieldType type = i % 3 == 0 ? FTString : (i % 3 == 1 ? FTInteger : FTDouble);
        wide.fields.push_back({"COL" + std::to_string(i), type, 10, type == FTDouble ? 2 : 0});
    }
    for (int r = 0; r < 2; ++r) {
        std::vector<std::string> row;
        for (int i = 0; i < 24; ++i) {
            row.push_back(i % 3 == 0 ? "t" + std::to_string(r * 100 + i)
                                     : (i % 3 == 1 ? std::to_string(r + i) : "3.25"));
        }
        wide.rows.push_back(row);
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
    nulls.shapeType = SHPT_POINT;
    nulls.shapes = {nullShape(), nullShape()};
    nulls.fields = {{"TYPE", FTString, 4, 0}};
    nulls.rows = {{"a"}, {"b"}};
    layers.push_back(nulls);

    SeedLayer multipoint;
    multipoint.name = "multipoint";
    multipoint.shapeType = SHPT_MULTIPOINT;
    multipoint.shapes = {{SHPT_MULTIPOINT, {{{1, 1}, {2, 2}}}}};
    multipoint.fields = {{"TYPE", FTString, 4, 0}};
    multipoint.rows = {{"x"}};
    layers.push_back(multipoint);

    SeedLayer polylineZ;
    polylineZ.name = "polyline-z";
    polylineZ.shapeType = SHPT_ARCZ;
    polylineZ.shapes = {{SHPT_ARCZ, {{{1, 1}, {2, 2}}, {{3, 3}, {4, 4}}}}};
    polylineZ.fields = {{"TYPE", FTString, 4, 0}};
    polylineZ.rows = {{"x"}};
    layers.push_back(polylineZ);

    SeedLayer empty;
    empty.name = "empty";
    empty.shapeType = SHPT_POLYGON;
    empty.fields = {{"TYPE", FTString, 4, 0}};
    layers.push_back(empty);

    SeedLayer shortTable = lines;
    shortTable.name = "table-shorter-than-shapes";
    shortTable.rows.resize(1);
    layers.push_back(shortTable);

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
