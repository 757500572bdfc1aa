// Reads a map tile as mkgmap writes it (e.g. 63240001.img) and prints where
// its features landed, so that the compiler test can check positions and not
// only labels:
//
//   img_bounds <tile.img>            north east south west of the tile
//   img_bounds --points <tile.img>   lat lon of each point object, one a line
//
// Degrees with 6 decimals. mkgmap rounds the bounds outwards to whole map
// units (360/2^24 degrees), so they enclose the objects within one unit.
// Points are read at the most detailed level only, and only the classic
// point types (extended types of 0x10000 and up are kept elsewhere).
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

void printPoints(const Bytes& tre, const Bytes& rgn) {
    const std::size_t levelsAt = u32(tre, 0x21), levelsSize = u32(tre, 0x25);
    const std::size_t subdivsAt = u32(tre, 0x29);
    const std::size_t rgnDataAt = u32(rgn, 0x15), rgnDataSize = u32(rgn, 0x19);
    if (levelsSize < 4) throw std::runtime_error("the TRE lists no map level");

    // Levels run from the widest to the most detailed; so do their
    // subdivisions, 16 bytes each, but only 14 at the most detailed level,
    // which points to no level below.
    std::size_t nUpper = 0;
    for (std::size_t at = levelsAt; at + 4 < levelsAt + levelsSize; at += 4) nUpper += u16(tre, at + 2);
    const std::size_t lastLevel = levelsAt + levelsSize - 4;
    const int bits = tre.at(lastLevel + 1);
    if (bits < 1 || bits > 24) throw std::runtime_error("implausible level resolution");
    const std::size_t nDetailed = u16(tre, lastLevel + 2);
    // Offsets count in steps of the level's resolution, not in map units.
    const std::int64_t step = std::int64_t{1} << (24 - bits);

    for (std::size_t i = 0; i < nDetailed; ++i) {
        const std::size_t sub = subdivsAt + nUpper * 16 + i * 14;
        const std::size_t start = u24(tre, sub);
        // Each subdivision's objects end where the next one's begin.
        const std::size_t end = i + 1 < nDetailed ? u24(tre, sub + 14) : rgnDataSize;
        const unsigned kinds = tre.at(sub + 3);
        const std::int32_t lon0 = s24(tre, sub + 4), lat0 = s24(tre, sub + 7);

        // Kinds in order: points 0x10, indexed points 0x20, lines 0x40,
        // areas 0x80. All but the first start at a 16-bit pointer placed
        // before the objects.
        std::vector<unsigned> present;
        for (unsigned kind = 0x10; kind <= 0x80; kind <<= 1) {
            if ((kinds & kind) != 0) present.push_back(kind);
        }
        const std::size_t firstAt = start + 2 * (present.empty() ? 0 : present.size() - 1);
        for (std::size_t s = 0; s < present.size(); ++s) {
            if (present[s] > 0x20) break;  // lines and areas: no points here
            const std::size_t from = s == 0 ? firstAt : start + u16(rgn, rgnDataAt + start + 2 * (s - 1));
            const std::size_t to =
                s + 1 < present.size() ? start + u16(rgn, rgnDataAt + start + 2 * s) : end;
            for (std::size_t p = from; p < to;) {
                const std::size_t at = rgnDataAt + p;
                const bool hasSubtype = (u24(rgn, at + 1) & 0x800000u) != 0;
                const auto lon = static_cast<std::int32_t>(lon0 + s16(rgn, at + 4) * step);
                const auto lat = static_cast<std::int32_t>(lat0 + s16(rgn, at + 6) * step);
                std::printf("%.6f %.6f\n", degrees(lat), degrees(lon));
                p += hasSubtype ? 9 : 8;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool points = argc == 3 && std::string(argv[1]) == "--points";
    if (argc != 2 && !points) {
        std::fprintf(stderr, "usage: %s [--points] <tile.img>\n", argv[0]);
        return 2;
    }
    try {
        const Bytes image = readFile(argv[argc - 1]);
        const Bytes tre = subfile(image, "TRE");
        if (points) {
            printPoints(tre, subfile(image, "RGN"));
        } else {
            printBounds(tre);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[argc - 1], e.what());
        return 1;
    }
    return 0;
}
