// Reads a map tile as mkgmap writes it (e.g. 63240001.img) and prints where
// its features landed, so that the compiler test can check positions and not
// only labels:
//
//   img_bounds <tile.img>            north east south west of the tile
//   img_bounds --points <tile.img>   lat lon of each point object, one a line
//   img_bounds --levels <tile.img>   for each map level, most detailed first:
//                                    zoom bits points lines areas
//
// Degrees with 6 decimals. mkgmap rounds the bounds outwards to whole map
// units (360/2^24 degrees), so they enclose the objects within one unit.
// Points are read at the most detailed level only. Points and objects are
// those of the classic types: extended types (0x10000 and up) are kept
// elsewhere and not read.
//
// Only the standard library: the test must build wherever the project does.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t u16(const Bytes& b, std::size_t at) {
    if (at + 2 > b.size()) throw std::runtime_error("truncated data");
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t u24(const Bytes& b, std::size_t at) {
    if (at + 3 > b.size()) throw std::runtime_error("truncated data");
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16);
}
std::uint32_t u32(const Bytes& b, std::size_t at) {
    return u16(b, at) | u16(b, at + 2) << 16;
}
// Map units are signed 24-bit values: bit 23 is the sign.
std::int32_t s24(const Bytes& b, std::size_t at) {
    const std::uint32_t v = u24(b, at);
    return static_cast<std::int32_t>(v) - ((v & 0x800000u) != 0 ? 0x1000000 : 0);
}
std::int32_t s16(const Bytes& b, std::size_t at) {
    const std::uint32_t v = u16(b, at);
    return static_cast<std::int32_t>(v) - ((v & 0x8000u) != 0 ? 0x10000 : 0);
}

double degrees(std::int32_t mapUnits) { return mapUnits * (360.0 / (1 << 24)); }

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    Bytes image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (image.size() < 0x600) throw std::runtime_error(path + " is too short for a map image");
    // Every byte of the image is XORed with the first one. mkgmap writes 0,
    // other writers do not.
    const std::uint8_t key = image[0];
    if (key != 0) {
        for (std::uint8_t& b : image) b = static_cast<std::uint8_t>(b ^ key);
    }
    if (std::string(image.begin() + 0x10, image.begin() + 0x16) != "DSKIMG") {
        throw std::runtime_error(path + " is not a map image");
    }
    return image;
}

// The image is a small file system: 512-byte directory entries, each naming
// a subfile (8 + 3 characters) and listing up to 240 of its blocks. A
// subfile with more blocks continues in further entries of the same name.
Bytes subfile(const Bytes& image, const std::string& ext) {
    const int blockBits = image[0x61] + image[0x62];
    if (blockBits < 9 || blockBits > 24) throw std::runtime_error("implausible block size");
    const std::size_t blockSize = std::size_t{1} << blockBits;
    const std::size_t firstEntry = std::size_t{image[0x40]} * 512;
    // The first entry (blank name) covers the header and the directory
    // itself: its size tells where the directory ends.
    std::size_t directoryEnd = image.size();
    if (firstEntry + 512 <= image.size() && image[firstEntry] == 1 &&
        std::string(image.begin() + static_cast<long>(firstEntry) + 1,
                    image.begin() + static_cast<long>(firstEntry) + 12) == std::string(11, ' ')) {
        directoryEnd = std::min<std::size_t>(image.size(), u32(image, firstEntry + 12));
    }
    std::string name;  // the first subfile of that type decides the name
    std::size_t size = 0;
    Bytes data;
    for (std::size_t e = firstEntry; e + 512 <= directoryEnd; e += 512) {
        if (image[e] != 1) continue;
        const std::string entryName(image.begin() + static_cast<long>(e) + 1,
                                    image.begin() + static_cast<long>(e) + 12);
        if (entryName.substr(8) != ext || (!name.empty() && entryName != name)) continue;
        if (name.empty()) {
            name = entryName;
            size = u32(image, e + 12);
        }
        for (std::size_t k = e + 0x20; k < e + 512; k += 2) {
            const std::uint32_t block = u16(image, k);
            if (block == 0xffff) break;
            const std::size_t start = block * blockSize;
            if (start + blockSize > image.size()) throw std::runtime_error(ext + " runs past the image");
            data.insert(data.end(), image.begin() + static_cast<long>(start),
                        image.begin() + static_cast<long>(start + blockSize));
        }
    }
    if (name.empty()) throw std::runtime_error("no " + ext + " subfile in the image");
    if (data.size() < size) throw std::runtime_error(ext + " is shorter than its directory entry");
    data.resize(size);
    return data;
}

void printBounds(const Bytes& tre) {
    // The bounds follow the 21-byte common header: north, east, south, west.
    std::printf("%.6f %.6f %.6f %.6f\n", degrees(s24(tre, 0x15)), degrees(s24(tre, 0x18)),
                degrees(s24(tre, 0x1b)), degrees(s24(tre, 0x1e)));
}

// The map levels of the TRE, in its order: from the widest to the most
// detailed. Each entry is 4 bytes: the zoom level (low 4 bits; bit 7 marks
// a level whose objects are inherited from above), the resolution in bits
// and the number of subdivisions.
struct Level {
    int zoom = 0;
    int bits = 24;
    std::size_t nSubdivisions = 0;
};

std::vector<Level> readLevels(const Bytes& tre) {
    const std::size_t levelsAt = u32(tre, 0x21), levelsSize = u32(tre, 0x25);
    if (levelsSize < 4 || levelsSize % 4 != 0) throw std::runtime_error("the TRE lists no map level");
    std::vector<Level> levels;
    for (std::size_t at = levelsAt; at < levelsAt + levelsSize; at += 4) {
        Level level;
        level.zoom = tre.at(at) & 0x0f;
        level.bits = tre.at(at + 1);
        level.nSubdivisions = u16(tre, at + 2);
        if (level.bits < 1 || level.bits > 24) throw std::runtime_error("implausible level resolution");
        levels.push_back(level);
    }
    return levels;
}

// The objects of one kind in one subdivision: RGN bytes [from, to).
struct ObjectRun {
    unsigned kind = 0;  // 0x10 points, 0x20 indexed points, 0x40 lines, 0x80 areas
    std::size_t from = 0;
    std::size_t to = 0;
};

struct Subdivision {
    std::size_t level = 0;  // index into readLevels()
    std::int32_t lon0 = 0;
    std::int32_t lat0 = 0;
    std::vector<ObjectRun> runs;
};

// Every subdivision of the tile, level by level as the TRE lists them. A
// subdivision takes 16 bytes, but only 14 at the most detailed level, which
// points to no level below: RGN offset (3), object kinds (1), centre
// longitude and latitude (3 + 3), width and height (2 + 2), first
// subdivision of the next level (2). The subdivisions' objects follow each
// other in the RGN in the same order: each one ends where the next begins.
std::vector<Subdivision> readSubdivisions(const Bytes& tre, const Bytes& rgn,
                                          const std::vector<Level>& levels) {
    const std::size_t subdivsAt = u32(tre, 0x29);
    const std::size_t rgnDataAt = u32(rgn, 0x15), rgnDataSize = u32(rgn, 0x19);
    struct Entry {
        std::size_t level;
        std::size_t at;
    };
    std::vector<Entry> entries;
    std::size_t at = subdivsAt;
    for (std::size_t l = 0; l < levels.size(); ++l) {
        const std::size_t entrySize = l + 1 < levels.size() ? 16 : 14;
        for (std::size_t i = 0; i < levels[l].nSubdivisions; ++i, at += entrySize) {
            entries.push_back({l, at});
        }
    }
    std::vector<Subdivision> subdivisions;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t sub = entries[i].at;
        const std::size_t start = u24(tre, sub);
        const std::size_t end = i + 1 < entries.size() ? u24(tre, entries[i + 1].at) : rgnDataSize;
        if (start > end || end > rgnDataSize) throw std::runtime_error("subdivisions out of order in the RGN");
        Subdivision subdivision;
        subdivision.level = entries[i].level;
        subdivision.lon0 = s24(tre, sub + 4);
        subdivision.lat0 = s24(tre, sub + 7);
        const unsigned kinds = tre.at(sub + 3);
        std::vector<unsigned> present;
        for (unsigned kind = 0x10; kind <= 0x80; kind <<= 1) {
            if ((kinds & kind) != 0) present.push_back(kind);
        }
        // All kinds but the first start at a 16-bit pointer, relative to
        // the subdivision, placed before the objects.
        const std::size_t firstAt = start + 2 * (present.empty() ? 0 : present.size() - 1);
        for (std::size_t s = 0; s < present.size(); ++s) {
            ObjectRun run;
            run.kind = present[s];
            run.from = s == 0 ? firstAt : start + u16(rgn, rgnDataAt + start + 2 * (s - 1));
            run.to = s + 1 < present.size() ? start + u16(rgn, rgnDataAt + start + 2 * s) : end;
            if (run.from > run.to || run.to > end) throw std::runtime_error("object pointers out of order");
            run.from += rgnDataAt;
            run.to += rgnDataAt;
            subdivision.runs.push_back(run);
        }
        subdivisions.push_back(subdivision);
    }
    return subdivisions;
}

// A point: type (1), label offset (3; bit 23 says a subtype byte follows),
// longitude and latitude offsets (2 + 2), [subtype (1)].
std::size_t pointSize(const Bytes& rgn, std::size_t at) {
    return (u24(rgn, at + 1) & 0x800000u) != 0 ? 9 : 8;
}

// A line or an area: type (1; bit 7 says the length takes 2 bytes), label
// offset (3), longitude and latitude offsets of the first vertex (2 + 2),
// the length n of the rest (1 or 2), then n + 1 bytes: the byte giving the
// bit widths of the coordinate deltas and the deltas' bit stream.
std::size_t shapeSize(const Bytes& rgn, std::size_t at) {
    const bool twoByteLength = (rgn.at(at) & 0x80u) != 0;
    const std::size_t n = twoByteLength ? u16(rgn, at + 8) : rgn.at(at + 8);
    return 8 + (twoByteLength ? 2 : 1) + n + 1;
}

// The number of objects in a run. The last one must end exactly where the
// run does, or the reader does not understand the tile.
std::size_t countObjects(const Bytes& rgn, const ObjectRun& run) {
    std::size_t n = 0;
    std::size_t at = run.from;
    while (at < run.to) {
        at += run.kind <= 0x20 ? pointSize(rgn, at) : shapeSize(rgn, at);
        ++n;
    }
    if (at != run.to) throw std::runtime_error("an object runs past its subdivision");
    return n;
}

// Only the classic point types: extended types of 0x10000 and up are kept
// elsewhere.
void printPoints(const Bytes& tre, const Bytes& rgn) {
    const std::vector<Level> levels = readLevels(tre);
    const std::size_t detailed = levels.size() - 1;
    // Offsets count in steps of the level's resolution, not in map units.
    const std::int64_t step = std::int64_t{1} << (24 - levels[detailed].bits);
    for (const Subdivision& subdivision : readSubdivisions(tre, rgn, levels)) {
        if (subdivision.level != detailed) continue;
        for (const ObjectRun& run : subdivision.runs) {
            if (run.kind > 0x20) continue;  // lines and areas
            for (std::size_t at = run.from; at < run.to; at += pointSize(rgn, at)) {
                const auto lon = static_cast<std::int32_t>(subdivision.lon0 + s16(rgn, at + 4) * step);
                const auto lat = static_cast<std::int32_t>(subdivision.lat0 + s16(rgn, at + 6) * step);
                std::printf("%.6f %.6f\n", degrees(lat), degrees(lon));
            }
        }
    }
}

// One line per map level, from the most detailed to the widest: zoom
// level, resolution in bits, and the numbers of points (indexed ones
// included), lines and areas in the level's subdivisions.
void printLevels(const Bytes& tre, const Bytes& rgn) {
    const std::vector<Level> levels = readLevels(tre);
    std::vector<std::size_t> counts(levels.size() * 3, 0);
    for (const Subdivision& subdivision : readSubdivisions(tre, rgn, levels)) {
        for (const ObjectRun& run : subdivision.runs) {
            const std::size_t column = run.kind <= 0x20 ? 0 : run.kind == 0x40 ? 1 : 2;
            counts[subdivision.level * 3 + column] += countObjects(rgn, run);
        }
    }
    for (std::size_t l = levels.size(); l-- > 0;) {
        std::printf("%d %d %zu %zu %zu\n", levels[l].zoom, levels[l].bits, counts[l * 3],
                    counts[l * 3 + 1], counts[l * 3 + 2]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (argc != 2 && mode != "--points" && mode != "--levels") {
        std::fprintf(stderr, "usage: %s [--points | --levels] <tile.img>\n", argv[0]);
        return 2;
    }
    try {
        const Bytes image = readFile(argv[argc - 1]);
        const Bytes tre = subfile(image, "TRE");
        if (mode == "--points") {
            printPoints(tre, subfile(image, "RGN"));
        } else if (mode == "--levels") {
            printLevels(tre, subfile(image, "RGN"));
        } else {
            printBounds(tre);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[argc - 1], e.what());
        return 1;
    }
    return 0;
}
