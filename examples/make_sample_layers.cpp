// Writes the sample layers of this folder: a few points, streets and areas
// of Brno with labels in code page 1250.
//
//   orvtessel_make_samples <folder>
//
// writes <folder>/points, <folder>/roads and <folder>/areas (.shp, .shx,
// .dbf, and a .cpg declaring code page 1250), each with the columns TYPE,
// NAME and DISTRICT.
#include <cstdio>
#include <string>
#include <vector>

#include <shapefil.h>

namespace {

struct Vertex {
    double lon;
    double lat;
};
using Part = std::vector<Vertex>;

struct Feature {
    const char* type;
    const char* name;  // code page 1250 bytes
    const char* district;
    std::vector<Part> parts;
};

bool writeLayer(const std::string& base, int shapeType, const std::vector<Feature>& features) {
    SHPHandle hSHP = SHPCreate(base.c_str(), shapeType);
    DBFHandle hDBF = DBFCreate((base + ".dbf").c_str());
    if (hSHP == nullptr || hDBF == nullptr) {
        std::fprintf(stderr, "cannot create %s\n", base.c_str());
        return false;
    }
    // The labels' code page, declared as GIS programs read it.
    std::FILE* cpg = std::fopen((base + ".cpg").c_str(), "wb");
    if (cpg == nullptr || std::fputs("1250\n", cpg) < 0 || std::fclose(cpg) != 0) {
        std::fprintf(stderr, "cannot write %s.cpg\n", base.c_str());
        return false;
    }
    DBFAddField(hDBF, "TYPE", FTString, 8, 0);
    DBFAddField(hDBF, "NAME", FTString, 40, 0);
    DBFAddField(hDBF, "DISTRICT", FTString, 24, 0);
    int record = 0;
    for (const Feature& feature : features) {
        std::vector<int> starts;
        std::vector<double> x;
        std::vector<double> y;
        for (const Part& part : feature.parts) {
            starts.push_back(static_cast<int>(x.size()));
            for (const Vertex& v : part) {
                x.push_back(v.lon);
                y.push_back(v.lat);
            }
        }
        const bool isPoint = shapeType == SHPT_POINT;
        SHPObject* object = SHPCreateObject(
            shapeType, -1, isPoint ? 0 : static_cast<int>(starts.size()),
            isPoint ? nullptr : starts.data(), nullptr, static_cast<int>(x.size()), x.data(),
            y.data(), nullptr, nullptr);
        SHPWriteObject(hSHP, -1, object);
        SHPDestroyObject(object);
        DBFWriteStringAttribute(hDBF, record, 0, feature.type);
        DBFWriteStringAttribute(hDBF, record, 1, feature.name);
        DBFWriteStringAttribute(hDBF, record, 2, feature.district);
        ++record;
    }
    SHPClose(hSHP);
    DBFClose(hDBF);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];

    const std::vector<Feature> points = {
        {"0x2c04", "Katedr\xe1la sv. Petra a Pavla", "Brno-st\xf8\x65\x64", {{{16.607633, 49.191026}}}},
        {"0x2f06", "Bankomat N\xe1m\xecst\xed Svobody", "Brno-st\xf8\x65\x64", {{{16.608350, 49.194860}}}},
        {"0x2a00", "Restaurace U \x8elut\xe9ho kola", "\x8e\x61\x62ov\xf8\x65sky", {{{16.580211, 49.207340}}}},
        {"0x2c02", "Vila Tugendhat", "\xc8\x65rn\xe1 Pole", {{{16.616126, 49.207150}}}},
    };
    const std::vector<Feature> roads = {
        {"0x0004", "Husova", "Brno-st\xf8\x65\x64",
         {{{16.601200, 49.193010}, {16.602870, 49.194530}, {16.604010, 49.196120}}}},
        // Two parts: the street is cut by a pedestrian square.
        {"0x0006", "K\xf8i\x9e\xedkova", "Kr\xe1lovo Pole",
         {{{16.596500, 49.221200}, {16.598900, 49.221900}, {16.601300, 49.222500}},
          {{16.603100, 49.222900}, {16.605400, 49.223600}}}},
        {"0x0001", "D1 \x96 d\xe1lnice", "Brno-jih",
         {{{16.620000, 49.160000}, {16.640500, 49.158200}, {16.661000, 49.156900}}}},
    };
    const std::vector<Feature> areas = {
        {"0x17", "Lu\x9e\xe1nky", "\xc8\x65rn\xe1 Pole",
         {{{16.611000, 49.206000}, {16.611000, 49.211000}, {16.620000, 49.211000},
           {16.620000, 49.206000}, {16.611000, 49.206000}}}},
        // A pond with an island: the second part is the hole.
        {"0x3c", "Rybn\xedk v Lu\x9e\xe1nk\xe1\x63h", "\xc8\x65rn\xe1 Pole",
         {{{16.613000, 49.207000}, {16.613000, 49.209000}, {16.617000, 49.209000},
           {16.617000, 49.207000}, {16.613000, 49.207000}},
          {{16.614500, 49.207600}, {16.615500, 49.207600}, {16.615500, 49.208400},
           {16.614500, 49.208400}, {16.614500, 49.207600}}}},
    };

    const bool ok = writeLayer(folder + "/points", SHPT_POINT, points) &&
                    writeLayer(folder + "/roads", SHPT_ARC, roads) &&
                    writeLayer(folder + "/areas", SHPT_POLYGON, areas);
    return ok ? 0 : 1;
}
