#include "code_page_names.h"

#include <algorithm>
#include <cctype>

#include <unicode/ucnv.h>

#include "ascii_text.h"

namespace orvtessel {
namespace {

std::string upperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// Removes `prefix` from the front of `text` when it is there.
bool consume(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// "ISO-8859-N" and its spellings, upper-cased: ISO8859-N, ISO_8859-N,
// ISO8859N, 8859-N, 8859_N, 8859N. The part number, or 0.
long isoPartNumber(std::string_view upper) {
    if (consume(upper, "ISO")) {
        if (!consume(upper, "-")) consume(upper, "_");
    }
    if (!consume(upper, "8859")) return 0;
    if (!consume(upper, "-")) consume(upper, "_");
    if (!allDigits(upper)) return 0;
    const long part = numberOf(upper);
    return part >= 1 && part <= 16 ? part : 0;
}

// The number N of "N", "CPN", "ANSI N" or "WINDOWS-N", upper-cased; -1 when
// the declaration is none of them.
long windowsNumber(std::string_view upper) {
    if (consume(upper, "CP") || consume(upper, "WINDOWS-")) {
        // nothing else may come between the prefix and the number
    } else if (consume(upper, "ANSI")) {
        upper = trimmed(upper);
    }
    return allDigits(upper) ? numberOf(upper) : -1;
}

bool converterExists(const std::string& name) {
    if (name.empty()) return false;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name.c_str(), &status);
    if (converter != nullptr) ucnv_close(converter);
    return U_SUCCESS(status) && converter != nullptr;
}

}  // namespace

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

long numberOf(std::string_view digits) {
    if (digits.size() > 9) return -1;
    long n = 0;
    for (const char c : digits) n = n * 10 + (c - '0');
    return n;
}

std::string converterNameForNumber(long number) {
    if (number == 65001) return "UTF-8";
    if (number <= 0) return std::string();
    // Windows numbers the ISO-8859 parts 28591 to 28606.
    if (number >= 28591 && number <= 28606) {
        std::string name = "ISO-8859-" + std::to_string(number - 28590);
        return converterExists(name) ? name : std::string();
    }
    // The Windows tables first: "cp949" is IBM's table, not Windows'.
    for (const char* prefix : {"windows-", "cp", "ibm-"}) {
        std::string name = prefix + std::to_string(number);
        if (converterExists(name)) return name;
    }
    return std::string();
}


int languageDriverCodePage(int languageDriver) {
    // dBASE, Visual FoxPro and ESRI language driver IDs.
    static constexpr struct {
        int driver;
        int codePage;
    } kDrivers[] = {
        {0x01, 437},   {0x02, 850},   {0x03, 1252},  {0x04, 10000}, {0x08, 865},
        {0x09, 437},   {0x0A, 850},   {0x0B, 437},   {0x0D, 437},   {0x0E, 850},
        {0x0F, 437},   {0x10, 850},   {0x11, 437},   {0x12, 850},   {0x13, 932},
        {0x14, 850},   {0x15, 437},   {0x16, 850},   {0x17, 865},   {0x18, 437},
        {0x19, 437},   {0x1A, 850},   {0x1B, 437},   {0x1C, 863},   {0x1D, 850},
        {0x1F, 852},   {0x22, 852},   {0x23, 852},   {0x24, 860},   {0x25, 850},
        {0x26, 866},   {0x37, 850},   {0x40, 852},   {0x4D, 936},   {0x4E, 949},
        {0x4F, 950},   {0x50, 874},   {0x58, 1252},  {0x59, 1252},  {0x64, 852},
        {0x65, 866},   {0x66, 865},   {0x67, 861},   {0x68, 895},   {0x69, 620},
        {0x6A, 737},   {0x6B, 857},   {0x6C, 863},   {0x78, 950},   {0x79, 949},
        {0x7A, 936},   {0x7B, 932},   {0x7C, 874},   {0x7D, 1255},  {0x7E, 1256},
        {0x86, 737},   {0x87, 852},   {0x88, 857},   {0x96, 10007}, {0x97, 10029},
        {0x98, 10006}, {0xC8, 1250},  {0xC9, 1251},  {0xCA, 1254},  {0xCB, 1253},
        {0xCC, 1257},
    };
    for (const auto& entry : kDrivers) {
        if (entry.driver == languageDriver) return entry.codePage;
    }
    return 0;
}

CodePageDeclaration parseLayerCodePage(std::string_view declaration) {
    CodePageDeclaration result;
    const std::string_view text = trimmed(declaration);
    if (text.empty()) return result;
    const std::string upper = upperCase(text);
    result.kind = CodePageDeclaration::Kind::Named;

    if (upper == "UTF-8" || upper == "UTF8" || upper == "65001") {
        result.converterName = "UTF-8";
        return result;
    }
    std::string_view rest = upper;
    if (consume(rest, "LDID/")) {
        const long driver = allDigits(rest) ? numberOf(rest) : -1;
        if (driver == 0x57) {
            // "ANSI": the code page of the system that wrote the file.
            result.kind = CodePageDeclaration::Kind::Undeclared;
            return result;
        }
        const int codePage = driver > 0 ? languageDriverCodePage(static_cast<int>(driver)) : 0;
        if (codePage != 0) result.converterName = converterNameForNumber(codePage);
        return result;
    }
    if (const long part = isoPartNumber(upper); part != 0) {
        result.converterName = "ISO-8859-" + std::to_string(part);
        if (!converterExists(result.converterName)) result.converterName.clear();
        return result;
    }
    if (const long number = windowsNumber(upper); number >= 0) {
        result.converterName = converterNameForNumber(number);
        return result;
    }
    // Any other name is the converter library's to know.
    const std::string name(text);
    if (converterExists(name)) result.converterName = name;
    return result;
}

bool isKnownCodePage(std::string_view name) {
    const CodePageDeclaration declaration = parseLayerCodePage(name);
    return declaration.kind == CodePageDeclaration::Kind::Named &&
           !declaration.converterName.empty();
}

}  // namespace orvtessel
