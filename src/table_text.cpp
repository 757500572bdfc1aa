#include "table_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace orvtessel {
namespace {

bool hasHighByte(const char* bytes, std::size_t nBytes) {
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 8 <= nBytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        any |= word;
    }
    for (; i < nBytes; ++i) any |= static_cast<unsigned char>(bytes[i]);
    return (any & 0x8080808080808080u) != 0;
}

}  // namespace

TableText scanTableText(DBFHandle hDBF) {
    TableText found;
    const int nRecordLength = hDBF->nRecordLength;
    if (nRecordLength <= 0 || hDBF->nRecords <= 0 || hDBF->nFields <= 0) return found;
    const auto recordLength = static_cast<std::size_t>(nRecordLength);
    struct Field {
        std::size_t offset;
        std::size_t size;
    };
    std::vector<Field> fields;
    for (int j = 0; j < hDBF->nFields; ++j) {
        // A damaged header may place a field beyond the record: only the
        // record's own bytes are looked at.
        const int offset = std::clamp(hDBF->panFieldOffset[j], 0, nRecordLength);
        const int size = std::clamp(hDBF->panFieldSize[j], 0, nRecordLength - offset);
        fields.push_back({static_cast<std::size_t>(offset), static_cast<std::size_t>(size)});
    }

    constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
    const std::size_t nPerBlock = std::max<std::size_t>(1, kBlockBytes / recordLength);
    // Not zeroed: only what was read is looked at.
    const std::unique_ptr<char[]> blockBytes(new char[nPerBlock * recordLength]);
    char* const block = blockBytes.get();
    if (hDBF->sHooks.FSeek(hDBF->fp, static_cast<SAOffset>(hDBF->nHeaderLength), SEEK_SET) != 0) {
        return found;
    }
    auto nLeft = static_cast<std::size_t>(hDBF->nRecords);
    while (nLeft > 0) {
        const std::size_t nWanted = std::min(nPerBlock, nLeft);
        // Only whole records: shapelib cannot read a record cut short.
        const auto nRead = static_cast<std::size_t>(
            hDBF->sHooks.FRead(block, static_cast<SAOffset>(recordLength),
                               static_cast<SAOffset>(nWanted), hDBF->fp));
        const std::size_t nBytes = nRead * recordLength;
        if (!found.anyLineBreak) {
            found.anyLineBreak = std::memchr(block, '\n', nBytes) != nullptr ||
                                 std::memchr(block, '\r', nBytes) != nullptr;
        }
        if (hasHighByte(block, nBytes)) {
            for (std::size_t r = 0; r < nRead; ++r) {
                const char* record = block + r * recordLength;
                if (!hasHighByte(record, recordLength)) continue;
                for (const Field& field : fields) {
                    const char* value = record + field.offset;
                    const void* nul = std::memchr(value, '\0', field.size);
                    const std::size_t nValue =
                        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - value)
                                       : field.size;
                    if (!hasHighByte(value, nValue)) continue;
                    found.anyHigh = true;
                    if (!isValidUtf8(std::string_view(value, nValue))) {
                        found.allHighUtf8 = false;
                        return found;
                    }
                }
            }
        }
        if (nRead < nWanted) break;
        nLeft -= nRead;
    }
    return found;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int nFollowing = 0;
        unsigned min = 0;
        unsigned codePoint = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            nFollowing = 1, min = 0x80, codePoint = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            nFollowing = 2, min = 0x800, codePoint = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            nFollowing = 3, min = 0x10000, codePoint = c & 0x07u;
        } else {
            return false;
        }
        if (n - i <= static_cast<std::size_t>(nFollowing)) return false;
        for (int k = 1; k <= nFollowing; ++k) {
            const auto f = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
            if ((f & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (f & 0x3Fu);
        }
        if (codePoint < min || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += static_cast<std::size_t>(nFollowing) + 1;
    }
    return true;
}

}  // namespace orvtessel
