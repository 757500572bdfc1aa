// Writes small test layers through shapelib's own writing API.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <shapefil.h>

namespace testsupport {

struct Shape {
    int type = SHPT_POINT;  // SHPT_NULL writes a null record
    std::vector<int> partStarts;
    std::vector<double> x;
    std::vector<double> y;
};

struct Field {
    std::string name;
    DBFFieldType type = FTString;
    int width = 20;
    int decimals = 0;
};

struct Layer {
    int shapeType = SHPT_POINT;
    std::vector<Shape> shapes;
    std::vector<Field> fields;
    // One row per attribute record; each value is stored as its raw text.
    std::vector<std::vector<std::string>> records;
    std::vector<int> deletedRecords;
};

// A point at (x, y).
Shape point(double x, double y);
// A polyline or polygon record; parts given as lists of (x, y) vertices.
Shape multiPart(int type, const std::vector<std::vector<std::pair<double, double>>>& parts);
Shape nullShape();

// Writes base.shp, base.shx and base.dbf (base has no extension).
void writeLayer(const std::filesystem::path& base, const Layer& layer);
void writeShapes(const std::filesystem::path& base, int shapeType, const std::vector<Shape>& shapes);
void writeTable(const std::filesystem::path& base, const std::vector<Field>& fields,
                const std::vector<std::vector<std::string>>& records,
                const std::vector<int>& deletedRecords = {});

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// Big-endian / little-endian patches of binary files.
void patchInt32LE(const std::filesystem::path& path, std::size_t offset, std::int32_t value);
void patchInt32BE(const std::filesystem::path& path, std::size_t offset, std::int32_t value);
void patchDoubleLE(const std::filesystem::path& path, std::size_t offset, double value);

}  // namespace testsupport
