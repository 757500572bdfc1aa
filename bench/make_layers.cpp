// Writes the benchmark layers through shapelib's writing API:
//
//   orvtessel_bench_layers [--scale S] [--seed N] [--cjk] <folder>
//
// With --cjk, writes only <folder>/cjk and <folder>/cjk_repeat instead:
// 20,000 points at scale 1 labelled with 84 CJK characters in UTF-8 (.cpg
// UTF-8), all labels different, and the same drawn from 200 labels; the
// labels also one a line in <folder>/cjk.txt and <folder>/cjk_repeat.txt.
//
// Otherwise writes <folder>/roads (polylines), <folder>/areas (polygons with holes)
// and <folder>/pois (points), each .shp, .shx and .dbf. At scale 1 they hold
// 1,000,000, 200,000 and 2,000,000 records; the counts scale linearly (at
// least one record each). Every layer has the columns TYPE (type codes such
// as 0x06) and NAME (labels) among 5 to 8 columns of text, numbers and
// dates. Coordinates are random doubles with all 53 bits used, around
// 45-55 N and 5-25 E. The same scale and seed always give the same bytes:
// the generator below is written out here rather than taken from <random>,
// whose distributions differ between standard libraries.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <shapefil.h>

namespace {

constexpr double kPi = 3.14159265358979323846;

// xoshiro256** seeded through splitmix64: fast, and the same numbers on
// every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) {
        for (auto& word : state_) {
            seed += 0x9E3779B97F4A7C15ULL;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            word = z ^ (z >> 31);
        }
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // Uniform in [0, 1) with all 53 bits of the mantissa random.
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double between(double low, double high) { return low + (high - low) * unit(); }
    // Uniform integer in [low, high].
    int integer(int low, int high) {
        const auto span = static_cast<std::uint64_t>(high - low) + 1;
        return low + static_cast<int>(next() % span);
    }
    bool chance(double probability) { return unit() < probability; }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t state_[4];
};

constexpr double kMinLon = 5.0;
constexpr double kMaxLon = 25.0;
constexpr double kMinLat = 45.0;
constexpr double kMaxLat = 55.0;

const char* const kNameWords[] = {
    "Lilac",  "Mill",   "Church", "Station", "Oak",    "River",  "Castle", "Market",
    "Linden", "Forest", "Bridge", "Garden",  "Quarry", "Hill",   "Meadow", "Harbour",
    "Orchard", "Pine",  "Chapel", "Vine",    "Brook",  "Willow", "Tower",  "School"};
const char* const kRoadKinds[] = {"Street", "Road", "Lane", "Avenue", "Way", "Row"};
const char* const kAreaKinds[] = {"Park", "Lake", "Wood", "Field", "Estate", "Pond"};
const char* const kPoiKinds[] = {"Inn", "Pharmacy", "Bakery", "Museum", "Post", "Cafe"};
const char* const kSurfaces[] = {"asphalt", "concrete", "gravel", "paving_stones", "dirt"};
const char* const kLanduses[] = {"residential", "forest", "water", "farmland", "industrial"};

template <typename T, std::size_t N>
constexpr int count(const T (&)[N]) {
    return static_cast<int>(N);
}

// Mostly residential roads, as in a real network.
const char* const kRoadTypes[] = {"0x06", "0x06", "0x06", "0x06", "0x06", "0x05", "0x04",
                                  "0x03", "0x02", "0x01", "0x07", "0x0a", "0x16"};
const char* const kAreaTypes[] = {"0x4e", "0x50", "0x3c", "0x17", "0x1a", "0x0a"};
const char* const kPoiTypes[] = {"0x2a00", "0x2b01", "0x2c02", "0x2e04", "0x6401", "0x2f06"};

// A label of one to three words and a kind; about one record in ten has none.
std::string makeLabel(Random& random, const char* const* kinds, int nKinds) {
    if (random.chance(0.1)) return std::string();
    std::string label;
    const int nWords = random.integer(1, 3);
    for (int i = 0; i < nWords; ++i) {
        label += kNameWords[random.integer(0, count(kNameWords) - 1)];
        label += ' ';
    }
    label += kinds[random.integer(0, nKinds - 1)];
    return label;
}

std::string makeDate(Random& random) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", random.integer(1950, 2024),
                  random.integer(1, 12), random.integer(1, 28));
    return text;
}

struct Handles {
    SHPHandle hSHP = nullptr;
    DBFHandle hDBF = nullptr;

    bool open(const std::string& base, int shapeType) {
        hSHP = SHPCreate(base.c_str(), shapeType);
        hDBF = DBFCreate((base + ".dbf").c_str());
        if (hSHP == nullptr || hDBF == nullptr) {
            std::fprintf(stderr, "cannot create %s\n", base.c_str());
            return false;
        }
        return true;
    }
    ~Handles() {
        if (hSHP != nullptr) SHPClose(hSHP);
        if (hDBF != nullptr) DBFClose(hDBF);
    }
};

bool addField(DBFHandle hDBF, const char* name, DBFFieldType type, int width, int decimals) {
    if (DBFAddField(hDBF, name, type, width, decimals) < 0) {
        std::fprintf(stderr, "cannot add column %s\n", name);
        return false;
    }
    return true;
}

bool writeShape(SHPHandle hSHP, int shapeType, const std::vector<int>& partStarts,
                const std::vector<double>& x, const std::vector<double>& y) {
    SHPObject* shape = SHPCreateObject(
        shapeType, -1, static_cast<int>(partStarts.size()),
        partStarts.empty() ? nullptr : partStarts.data(), nullptr, static_cast<int>(x.size()),
        x.data(), y.data(), nullptr, nullptr);
    const bool written = shape != nullptr && SHPWriteObject(hSHP, -1, shape) >= 0;
    SHPDestroyObject(shape);
    if (!written) std::fprintf(stderr, "cannot write a shape record\n");
    return written;
}

// A road: a random walk of 2 to 60 vertices, short ones more common than
// long ones; one record in 500 has two or three parts.
bool writeRoads(const std::string& base, int nRecords, Random& random) {
    Handles files;
    if (!files.open(base, SHPT_ARC)) return false;
    DBFHandle hDBF = files.hDBF;
    if (!addField(hDBF, "ROAD_ID", FTInteger, 10, 0) || !addField(hDBF, "TYPE", FTString, 6, 0) ||
        !addField(hDBF, "NAME", FTString, 48, 0) || !addField(hDBF, "MAXSPEED", FTInteger, 3, 0) ||
        !addField(hDBF, "LENGTH_KM", FTDouble, 12, 4) || !addField(hDBF, "OPENED", FTDate, 8, 0) ||
        !addField(hDBF, "ONEWAY", FTString, 1, 0) || !addField(hDBF, "SURFACE", FTString, 14, 0)) {
        return false;
    }
    std::vector<int> partStarts;
    std::vector<double> x;
    std::vector<double> y;
    for (int r = 0; r < nRecords; ++r) {
        partStarts.clear();
        x.clear();
        y.clear();
        const int nParts = random.chance(0.002) ? random.integer(2, 3) : 1;
        double lon = random.between(kMinLon, kMaxLon);
        double lat = random.between(kMinLat, kMaxLat);
        double length = 0.0;
        for (int p = 0; p < nParts; ++p) {
            partStarts.push_back(static_cast<int>(x.size()));
            const double u = random.unit();
            const int nVertices = 2 + static_cast<int>(58.999 * u * u);
            for (int v = 0; v < nVertices; ++v) {
                if (v > 0) {
                    const double stepLon = random.between(-0.002, 0.002);
                    const double stepLat = random.between(-0.0015, 0.0015);
                    lon += stepLon;
                    lat += stepLat;
                    length += std::hypot(stepLon * 70.0, stepLat * 111.0);
                }
                x.push_back(lon);
                y.push_back(lat);
            }
            // The next part starts a little further on, as after a ferry.
            lon += random.between(-0.01, 0.01);
            lat += random.between(-0.01, 0.01);
        }
        if (!writeShape(files.hSHP, SHPT_ARC, partStarts, x, y)) return false;
        const std::string label = makeLabel(random, kRoadKinds, count(kRoadKinds));
        const std::string date = makeDate(random);
        DBFWriteIntegerAttribute(hDBF, r, 0, 100000 + r);
        DBFWriteStringAttribute(hDBF, r, 1, kRoadTypes[random.integer(0, count(kRoadTypes) - 1)]);
        DBFWriteStringAttribute(hDBF, r, 2, label.c_str());
        DBFWriteIntegerAttribute(hDBF, r, 3, 10 * random.integer(3, 13));
        DBFWriteDoubleAttribute(hDBF, r, 4, length);
        DBFWriteStringAttribute(hDBF, r, 5, date.c_str());
        DBFWriteStringAttribute(hDBF, r, 6, random.chance(0.2) ? "Y" : "N");
        DBFWriteStringAttribute(hDBF, r, 7, kSurfaces[random.integer(0, count(kSurfaces) - 1)]);
    }
    return true;
}

// Appends a closed ring around (cx, cy): clockwise for an outer ring and
// counter-clockwise for a hole, as shapefiles store them.
void appendRing(Random& random, double cx, double cy, double radius, int nVertices, bool clockwise,
                std::vector<double>& x, std::vector<double>& y) {
    const std::size_t first = x.size();
    for (int v = 0; v < nVertices; ++v) {
        const double turn = 2.0 * kPi * v / nVertices;
        const double angle = clockwise ? -turn : turn;
        const double r = radius * random.between(0.75, 1.0);
        x.push_back(cx + r * std::cos(angle) * 1.4);
        y.push_back(cy + r * std::sin(angle));
    }
    x.push_back(x[first]);
    y.push_back(y[first]);
}

// An area: an outer ring of 4 to 40 vertices; one in five has one or two
// holes that stay inside it.
bool writeAreas(const std::string& base, int nRecords, Random& random) {
    Handles files;
    if (!files.open(base, SHPT_POLYGON)) return false;
    DBFHandle hDBF = files.hDBF;
    if (!addField(hDBF, "AREA_ID", FTInteger, 10, 0) || !addField(hDBF, "TYPE", FTString, 6, 0) ||
        !addField(hDBF, "NAME", FTString, 48, 0) || !addField(hDBF, "AREA_HA", FTDouble, 14, 2) ||
        !addField(hDBF, "SURVEYED", FTDate, 8, 0) ||
        !addField(hDBF, "LANDUSE", FTString, 16, 0)) {
        return false;
    }
    std::vector<int> partStarts;
    std::vector<double> x;
    std::vector<double> y;
    for (int r = 0; r < nRecords; ++r) {
        partStarts.clear();
        x.clear();
        y.clear();
        const double cx = random.between(kMinLon + 0.05, kMaxLon - 0.05);
        const double cy = random.between(kMinLat + 0.05, kMaxLat - 0.05);
        const double radius = random.between(0.001, 0.02);
        partStarts.push_back(0);
        appendRing(random, cx, cy, radius, random.integer(4, 40), true, x, y);
        const int nHoles = random.chance(0.2) ? random.integer(1, 2) : 0;
        // The outer ring reaches at least 0.75 radius from the centre; the
        // holes stay within 0.5 radius.
        for (int h = 0; h < nHoles; ++h) {
            partStarts.push_back(static_cast<int>(x.size()));
            const double offset = nHoles == 1 ? 0.0 : (h == 0 ? -0.3 : 0.3) * radius;
            const double holeRadius = (nHoles == 1 ? 0.4 : 0.18) * radius;
            appendRing(random, cx + offset, cy, holeRadius, random.integer(4, 12), false, x, y);
        }
        if (!writeShape(files.hSHP, SHPT_POLYGON, partStarts, x, y)) return false;
        const std::string label = makeLabel(random, kAreaKinds, count(kAreaKinds));
        const std::string date = makeDate(random);
        DBFWriteIntegerAttribute(hDBF, r, 0, 500000 + r);
        DBFWriteStringAttribute(hDBF, r, 1, kAreaTypes[random.integer(0, count(kAreaTypes) - 1)]);
        DBFWriteStringAttribute(hDBF, r, 2, label.c_str());
        DBFWriteDoubleAttribute(hDBF, r, 3, radius * radius * 2.0e6);
        DBFWriteStringAttribute(hDBF, r, 4, date.c_str());
        DBFWriteStringAttribute(hDBF, r, 5, kLanduses[random.integer(0, count(kLanduses) - 1)]);
    }
    return true;
}

bool writePois(const std::string& base, int nRecords, Random& random) {
    Handles files;
    if (!files.open(base, SHPT_POINT)) return false;
    DBFHandle hDBF = files.hDBF;
    if (!addField(hDBF, "POI_ID", FTInteger, 10, 0) || !addField(hDBF, "TYPE", FTString, 6, 0) ||
        !addField(hDBF, "NAME", FTString, 48, 0) || !addField(hDBF, "ELEV_M", FTDouble, 7, 1) ||
        !addField(hDBF, "ADDED", FTDate, 8, 0)) {
        return false;
    }
    std::vector<int> noParts;
    std::vector<double> x(1);
    std::vector<double> y(1);
    for (int r = 0; r < nRecords; ++r) {
        x[0] = random.between(kMinLon, kMaxLon);
        y[0] = random.between(kMinLat, kMaxLat);
        if (!writeShape(files.hSHP, SHPT_POINT, noParts, x, y)) return false;
        const std::string label = makeLabel(random, kPoiKinds, count(kPoiKinds));
        const std::string date = makeDate(random);
        DBFWriteIntegerAttribute(hDBF, r, 0, 900000 + r);
        DBFWriteStringAttribute(hDBF, r, 1, kPoiTypes[random.integer(0, count(kPoiTypes) - 1)]);
        DBFWriteStringAttribute(hDBF, r, 2, label.c_str());
        DBFWriteDoubleAttribute(hDBF, r, 3, random.between(80.0, 2500.0));
        DBFWriteStringAttribute(hDBF, r, 4, date.c_str());
    }
    return true;
}

// A label of `nCharacters` CJK unified ideographs (U+4E00 to U+9FA5) in UTF-8.
std::string makeCjkLabel(Random& random, int nCharacters) {
    std::string label;
    for (int i = 0; i < nCharacters; ++i) {
        const auto c = static_cast<unsigned>(random.integer(0x4E00, 0x9FA5));
        label += static_cast<char>(0xE0 | (c >> 12));
        label += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        label += static_cast<char>(0x80 | (c & 0x3F));
    }
    return label;
}

// Points labelled with 84 CJK characters each, in UTF-8 with a .cpg saying
// so: all different, or drawn from `nDistinct` labels when that is not 0.
bool writeCjkPois(const std::string& base, int nRecords, int nDistinct, Random& random) {
    Handles files;
    if (!files.open(base, SHPT_POINT)) return false;
    DBFHandle hDBF = files.hDBF;
    if (!addField(hDBF, "TYPE", FTString, 6, 0) || !addField(hDBF, "NAME", FTString, 252, 0)) {
        return false;
    }
    // The labels once more, one a line, for timing ICU's own tools on them.
    std::FILE* labels = std::fopen((base + ".txt").c_str(), "wb");
    if (labels == nullptr) return false;
    std::vector<std::string> pool;
    for (int i = 0; i < nDistinct; ++i) pool.push_back(makeCjkLabel(random, 84));
    std::vector<int> noParts;
    std::vector<double> x(1);
    std::vector<double> y(1);
    for (int r = 0; r < nRecords; ++r) {
        x[0] = random.between(kMinLon, kMaxLon);
        y[0] = random.between(kMinLat, kMaxLat);
        if (!writeShape(files.hSHP, SHPT_POINT, noParts, x, y)) return false;
        const std::string label =
            pool.empty() ? makeCjkLabel(random, 84) : pool[static_cast<std::size_t>(random.integer(0, nDistinct - 1))];
        DBFWriteStringAttribute(hDBF, r, 0, "0x2f06");
        DBFWriteStringAttribute(hDBF, r, 1, label.c_str());
        std::fprintf(labels, "%s\n", label.c_str());
    }
    if (std::fclose(labels) != 0) return false;
    std::FILE* cpg = std::fopen((base + ".cpg").c_str(), "wb");
    if (cpg == nullptr) return false;
    std::fputs("UTF-8\n", cpg);
    return std::fclose(cpg) == 0;
}

int scaled(double scale, int nAtScaleOne) {
    const double n = std::round(scale * nAtScaleOne);
    return n < 1.0 ? 1 : static_cast<int>(n);
}

int usage() {
    std::fprintf(stderr, "usage: orvtessel_bench_layers [--scale S] [--seed N] [--cjk] <folder>\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    double scale = 1.0;
    std::uint64_t seed = 20160229;
    std::string folder;
    bool cjk = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scale" && i + 1 < argc) {
            scale = std::strtod(argv[++i], nullptr);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--cjk") {
            cjk = true;
        } else if (!arg.empty() && arg[0] != '-' && folder.empty()) {
            folder = arg;
        } else {
            return usage();
        }
    }
    if (folder.empty() || !(scale > 0.0) || scale > 100.0) return usage();

    const auto start = std::chrono::steady_clock::now();
    if (cjk) {
        // The transliteration rows: 20,000 labels at scale 1, all
        // different, then the same count drawn from 200.
        Random cjkRandom(seed + 3);
        const int nRecords = scaled(scale, 20000);
        if (!writeCjkPois(folder + "/cjk", nRecords, 0, cjkRandom) ||
            !writeCjkPois(folder + "/cjk_repeat", nRecords, 200, cjkRandom)) {
            return 1;
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("CJK layers written to %s in %.1f s\n", folder.c_str(), elapsed.count());
        return 0;
    }
    // One generator per layer, so that each layer does not depend on the others.
    Random roadRandom(seed);
    Random areaRandom(seed + 1);
    Random poiRandom(seed + 2);
    if (!writeRoads(folder + "/roads", scaled(scale, 1000000), roadRandom) ||
        !writeAreas(folder + "/areas", scaled(scale, 200000), areaRandom) ||
        !writePois(folder + "/pois", scaled(scale, 2000000), poiRandom)) {
        return 1;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("layers written to %s in %.1f s\n", folder.c_str(), elapsed.count());
    return 0;
}
