#include "layer_writer.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

Shape point(double x, double y) {
    Shape shape;
    shape.type = SHPT_POINT;
    shape.x = {x};
    shape.y = {y};
    return shape;
}

Shape multiPart(int type, const std::vector<std::vector<std::pair<double, double>>>& parts) {
    Shape shape;
    shape.type = type;
    for (const auto& part : parts) {
        shape.partStarts.push_back(static_cast<int>(shape.x.size()));
        for (const auto& [x, y] : part) {
            shape.x.push_back(x);
            shape.y.push_back(y);
        }
    }
    return shape;
}

Shape nullShape() {
    Shape shape;
    shape.type = SHPT_NULL;
    return shape;
}

void writeShapes(const std::filesystem::path& base, int shapeType, const std::vector<Shape>& shapes) {
    SHPHandle hSHP = SHPCreate(base.string().c_str(), shapeType);
    if (hSHP == nullptr) throw std::runtime_error("SHPCreate failed for " + base.string());
    for (const Shape& shape : shapes) {
        SHPObject* object = nullptr;
        if (shape.type == SHPT_NULL) {
            object = SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr);
        } else {
            object = SHPCreateObject(
                shape.type, -1, static_cast<int>(shape.partStarts.size()),
                shape.partStarts.empty() ? nullptr : shape.partStarts.data(), nullptr,
                static_cast<int>(shape.x.size()), shape.x.data(), shape.y.data(), nullptr, nullptr);
        }
        SHPWriteObject(hSHP, -1, object);
        SHPDestroyObject(object);
    }
    SHPClose(hSHP);
}

namespace {

// shapelib cannot write records into a table without columns, so such a
// table is written byte by byte: a 32-byte header, the header terminator,
// one deletion flag per record and the end-of-file marker.
void writeTableWithoutColumns(const std::filesystem::path& base, std::size_t nRecords) {
    std::string bytes(32, '\0');
    bytes[0] = 0x03;
    bytes[1] = 95;
    bytes[2] = 7;
    bytes[3] = 26;
    for (int i = 0; i < 4; ++i) bytes[4 + static_cast<std::size_t>(i)] = static_cast<char>((nRecords >> (8 * i)) & 0xff);
    bytes[8] = 33;  // header length
    bytes[10] = 1;  // record length: the deletion flag alone
    bytes += '\r';
    bytes.append(nRecords, ' ');
    bytes += '\x1a';
    writeFile(base.string() + ".dbf", bytes);
}

}  // namespace

void writeTable(const std::filesystem::path& base, const std::vector<Field>& fields,
                const std::vector<std::vector<std::string>>& records,
                const std::vector<int>& deletedRecords) {
    if (fields.empty()) {
        writeTableWithoutColumns(base, records.size());
        return;
    }
    DBFHandle hDBF = DBFCreate((base.string() + ".dbf").c_str());
    if (hDBF == nullptr) throw std::runtime_error("DBFCreate failed for " + base.string());
    for (const Field& field : fields) {
        if (DBFAddField(hDBF, field.name.c_str(), field.type, field.width, field.decimals) < 0) {
            throw std::runtime_error("DBFAddField failed for " + field.name);
        }
    }
    int r = 0;
    for (const auto& record : records) {
        for (std::size_t j = 0; j < record.size() && j < fields.size(); ++j) {
            DBFWriteAttributeDirectly(hDBF, r, static_cast<int>(j), const_cast<char*>(record[j].c_str()));
        }
        ++r;
    }
    for (int deleted : deletedRecords) DBFMarkRecordDeleted(hDBF, deleted, 1);
    DBFClose(hDBF);
}

void writeLayer(const std::filesystem::path& base, const Layer& layer) {
    writeShapes(base, layer.shapeType, layer.shapes);
    writeTable(base, layer.fields, layer.records, layer.deletedRecords);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

namespace {
void patchBytes(const std::filesystem::path& path, std::size_t offset, const unsigned char* bytes,
                std::size_t n) {
    std::string content = readFile(path);
    if (offset + n > content.size()) throw std::runtime_error("patch past end of " + path.string());
    std::memcpy(content.data() + offset, bytes, n);
    writeFile(path, content);
}
}  // namespace

void patchInt32LE(const std::filesystem::path& path, std::size_t offset, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    const unsigned char bytes[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16),
                                    static_cast<unsigned char>(v >> 24)};
    patchBytes(path, offset, bytes, 4);
}

void patchInt32BE(const std::filesystem::path& path, std::size_t offset, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    const unsigned char bytes[4] = {static_cast<unsigned char>(v >> 24),
                                    static_cast<unsigned char>(v >> 16),
                                    static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    patchBytes(path, offset, bytes, 4);
}

void patchDoubleLE(const std::filesystem::path& path, std::size_t offset, double value) {
    unsigned char bytes[8];
    std::memcpy(bytes, &value, 8);  // the test machines are little-endian
    patchBytes(path, offset, bytes, 8);
}

}  // namespace testsupport
