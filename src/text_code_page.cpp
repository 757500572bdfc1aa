#include "text_code_page.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>
#include <unicode/uset.h>
#include <unicode/utf16.h>
#include <unicode/utrans.h>

#include "ascii_text.h"
#include "code_page_names.h"
#include "console.h"
#include "table_text.h"

namespace orvtessel {
namespace {

struct ConverterDeleter {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterDeleter>;

ConverterPtr openConverter(const std::string& name) {
    if (name.empty()) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status)) return nullptr;
    return converter;
}

std::string canonicalName(UConverter* converter) {
    UErrorCode status = U_ZERO_ERROR;
    const char* name = ucnv_getName(converter, &status);
    return U_SUCCESS(status) && name != nullptr ? name : "";
}

// True when the printable ASCII bytes (space to "~") are the ASCII
// characters in both directions. Control bytes are left out: IBM's tables
// of the DOS code pages swap 0x1A, 0x1C and 0x7F, which no label holds.
bool isAsciiCompatible(UConverter* converter) {
    constexpr int kFirst = 0x20;
    constexpr int kCount = 0x7F - kFirst;
    char bytes[kCount];
    for (int i = 0; i < kCount; ++i) bytes[i] = static_cast<char>(kFirst + i);
    UChar text[2 * kCount];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter);
    const int32_t nText = ucnv_toUChars(converter, text, 2 * kCount, bytes, kCount, &status);
    if (U_FAILURE(status) || nText != kCount) return false;
    for (int i = 0; i < kCount; ++i) {
        if (text[i] != static_cast<UChar>(kFirst + i)) return false;
    }
    char back[4 * kCount];
    status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(converter);
    const int32_t nBack = ucnv_fromUChars(converter, back, sizeof back, text, nText, &status);
    return U_SUCCESS(status) && nBack == kCount && std::equal(bytes, bytes + kCount, back);
}

// A byte sequence that is invalid in the layer's code page becomes "?",
// and the value counts as one with characters the map cannot show.
void invalidBytesToQuestionMark(const void* context, UConverterToUnicodeArgs* args,
                                const char*, int32_t, UConverterCallbackReason reason,
                                UErrorCode* status) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to replace
    *static_cast<bool*>(const_cast<void*>(context)) = true;
    const UChar questionMark = u'?';
    *status = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &questionMark, 1, 0, status);
}

void printUnknown(std::string_view declaration) {
    printOut("[WRN] Code page " + std::string(declaration) +
             " is unknown; text is written as stored.\n");
}

// The map's code page from the number its header gives: nothing for 0, a
// text that is no number, or none at all. `known` tells whether a number
// was given; the converter is null when the converter library cannot
// write that code page with ASCII as ASCII.
ConverterPtr openMapConverter(const std::string& mapNumber, bool& known) {
    known = allDigits(mapNumber) && numberOf(mapNumber) != 0;
    if (!known) return nullptr;
    ConverterPtr target = openConverter(converterNameForNumber(numberOf(mapNumber)));
    if (target && !isAsciiCompatible(target.get())) target.reset();
    return target;
}

}  // namespace

namespace {

struct TransliteratorCloser {
    void operator()(UTransliterator* transliterator) const { utrans_close(transliterator); }
};
using TransliteratorPtr = std::unique_ptr<UTransliterator, TransliteratorCloser>;

TransliteratorPtr openTransliterator(const std::u16string& id) {
    UErrorCode status = U_ZERO_ERROR;
    TransliteratorPtr transliterator(utrans_openU(id.data(), static_cast<int32_t>(id.size()),
                                                  UTRANS_FORWARD, nullptr, 0, nullptr, &status));
    if (U_FAILURE(status)) return nullptr;
    return transliterator;
}

struct U16Hash {
    std::size_t operator()(const std::u16string& text) const {
        return std::hash<std::u16string_view>()(text);
    }
};

}  // namespace

struct TextConverter {
    ConverterPtr source;
    ConverterPtr target;
    USet* targetSet = nullptr;  // what the map's code page can hold
    const UNormalizer2* nfc = nullptr;
    bool invalidBytes = false;  // set by the to-Unicode callback
    std::vector<UChar> decoded;
    std::vector<UChar> normalized;
    std::vector<UChar> fitted;
    std::vector<UChar> run;
    std::string encoded;

    // "Any-Latin; Latin-ASCII", built when first needed: building takes
    // milliseconds (its rules for Han a quarter of a second), and most
    // layers never need it.
    TransliteratorPtr toLatin;
    bool toLatinTried = false;

    // Runs transliterated so far, with what they became: labels repeat,
    // and ICU takes about a millisecond for a run of 84 Han characters.
    // Holds up to about a million UTF-16 units (2 MB of text).
    std::unordered_map<std::u16string, std::u16string, U16Hash> transliterated;
    std::size_t nTransliteratedUnits = 0;
    std::u16string key;

    ~TextConverter() {
        if (targetSet != nullptr) uset_close(targetSet);
    }

    // Converts `value`; returns true when a character had to be replaced.
    bool convert(std::string_view value);

    // Replaces `run` (nRun units, room for more) by its Latin
    // transliteration; false when there is none.
    bool transliterate(int32_t& nRun);

    UTransliterator* transliterator() {
        if (!toLatinTried) {
            toLatinTried = true;
            toLatin = openTransliterator(u"Any-Latin; Latin-ASCII");
        }
        return toLatin.get();
    }
};

bool TextConverter::transliterate(int32_t& nRun) {
    constexpr std::size_t kMaxCachedUnits = std::size_t{1} << 20;
    key.assign(reinterpret_cast<const char16_t*>(run.data()), static_cast<std::size_t>(nRun));
    if (const auto hit = transliterated.find(key); hit != transliterated.end()) {
        const std::u16string& latin = hit->second;
        run.assign(latin.begin(), latin.end());
        nRun = static_cast<int32_t>(latin.size());
        return true;
    }
    UTransliterator* latin = transliterator();
    if (latin == nullptr) return false;
    int32_t limit = nRun;
    UErrorCode status = U_ZERO_ERROR;
    utrans_transUChars(latin, run.data(), &nRun, static_cast<int32_t>(run.size()), 0, &limit,
                       &status);
    if (U_FAILURE(status)) return false;
    if (nTransliteratedUnits < kMaxCachedUnits) {
        nTransliteratedUnits += key.size() + static_cast<std::size_t>(nRun);
        transliterated.emplace(std::move(key),
                               std::u16string(reinterpret_cast<const char16_t*>(run.data()),
                                              static_cast<std::size_t>(nRun)));
    }
    return true;
}

bool TextConverter::convert(std::string_view value) {
    UErrorCode status = U_ZERO_ERROR;
    // Every byte gives at most two UTF-16 units, an invalid one a "?".
    const auto nBytes = static_cast<int32_t>(value.size());
    decoded.resize(static_cast<std::size_t>(nBytes) * 2 + 2);
    invalidBytes = false;
    ucnv_resetToUnicode(source.get());
    const int32_t nDecoded = ucnv_toUChars(source.get(), decoded.data(),
                                           static_cast<int32_t>(decoded.size()), value.data(),
                                           nBytes, &status);
    if (U_FAILURE(status)) {
        encoded.assign(value.size(), '?');
        return true;
    }
    bool replaced = invalidBytes;

    // Composed forms: "e" and a combining acute are the map's "é".
    const UChar* text = decoded.data();
    int32_t nText = nDecoded;
    status = U_ZERO_ERROR;
    if (unorm2_quickCheck(nfc, text, nText, &status) != UNORM_YES) {
        status = U_ZERO_ERROR;
        normalized.resize(static_cast<std::size_t>(nText) * 3 + 2);
        const int32_t nNormalized = unorm2_normalize(
            nfc, text, nText, normalized.data(), static_cast<int32_t>(normalized.size()), &status);
        if (U_SUCCESS(status)) {
            text = normalized.data();
            nText = nNormalized;
        }
    }

    // Each run of characters the map's code page lacks becomes its Latin
    // transliteration; what still does not fit becomes "?".
    fitted.clear();
    int32_t i = 0;
    while (i < nText) {
        int32_t start = i;
        UChar32 c = 0;
        U16_NEXT(text, i, nText, c);
        if (uset_contains(targetSet, c)) {
            fitted.insert(fitted.end(), text + start, text + i);
            continue;
        }
        replaced = true;
        int32_t end = i;
        while (end < nText) {
            int32_t next = end;
            U16_NEXT(text, next, nText, c);
            if (uset_contains(targetSet, c)) break;
            end = next;
        }
        i = end;
        int32_t nRun = end - start;
        run.assign(text + start, text + end);
        run.resize(static_cast<std::size_t>(nRun) * 8 + 16);
        if (!transliterate(nRun)) {
            run.assign(text + start, text + end);
            nRun = end - start;
        }
        for (int32_t k = 0; k < nRun;) {
            const int32_t from = k;
            U16_NEXT(run.data(), k, nRun, c);
            if (uset_contains(targetSet, c)) {
                fitted.insert(fitted.end(), run.data() + from, run.data() + k);
            } else {
                fitted.push_back(u'?');
            }
        }
    }

    status = U_ZERO_ERROR;
    encoded.resize(fitted.size() * 4 + 4);
    ucnv_resetFromUnicode(target.get());
    const int32_t nEncoded =
        ucnv_fromUChars(target.get(), encoded.data(), static_cast<int32_t>(encoded.size()),
                        fitted.data(), static_cast<int32_t>(fitted.size()), &status);
    if (U_FAILURE(status)) {
        encoded.assign(fitted.size(), '?');
        return true;
    }
    encoded.resize(static_cast<std::size_t>(nEncoded));
    return replaced;
}

struct TextCodePage::Utf8Reader {
    ConverterPtr source;
    std::vector<UChar> decoded;
    std::string utf8;
};

TextCodePage::TextCodePage() = default;
TextCodePage::TextCodePage(TextCodePage&&) noexcept = default;
TextCodePage& TextCodePage::operator=(TextCodePage&&) noexcept = default;
TextCodePage::~TextCodePage() = default;

namespace {

// The conversion between two opened converters; null when the map's
// character set cannot be read.
std::unique_ptr<TextConverter> makeConverter(ConverterPtr source, ConverterPtr target) {
    auto converter = std::make_unique<TextConverter>();
    UErrorCode status = U_ZERO_ERROR;
    converter->nfc = unorm2_getNFCInstance(&status);
    converter->targetSet = uset_openEmpty();
    ucnv_getUnicodeSet(target.get(), converter->targetSet, UCNV_ROUNDTRIP_SET, &status);
    if (U_FAILURE(status)) return nullptr;
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(source.get(), invalidBytesToQuestionMark, &converter->invalidBytes,
                        nullptr, nullptr, &status);
    // Characters are fitted before encoding; anything left is a "?".
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(target.get(), "?", 1, &status);
    converter->source = std::move(source);
    converter->target = std::move(target);
    return converter;
}

}  // namespace

TextCodePage TextCodePage::forLayer(DBFHandle hDBF, const std::optional<std::string>& mapCodePage,
                                    const char* givenCodePage) {
    TextCodePage text;

    std::string declared;
    if (givenCodePage != nullptr) {
        declared = givenCodePage;
    } else {
        const char* tableDeclaration = DBFGetCodePage(hDBF);
        std::string_view rawDeclaration = tableDeclaration != nullptr ? tableDeclaration : "";
        if (rawDeclaration.substr(0, 3) == "\xEF\xBB\xBF") rawDeclaration.remove_prefix(3);
        declared = trimmed(rawDeclaration);
    }
    const CodePageDeclaration layer = parseLayerCodePage(declared);
    ConverterPtr source;
    if (layer.kind == CodePageDeclaration::Kind::Named) {
        source = openConverter(layer.converterName);
        if (!source) printUnknown(declared);
    }
    if (source) text.layerCodePage_ = canonicalName(source.get());

    // The map's code page: a number; 0, a text that is no number, or none
    // at all leave the text as it is.
    const std::string mapNumber(trimmed(mapCodePage ? *mapCodePage : ""));
    bool mapKnown = false;
    ConverterPtr target = openMapConverter(mapNumber, mapKnown);
    if (mapKnown && !target) printUnknown(mapNumber);
    const bool mapIsUtf8 = target && canonicalName(target.get()) == "UTF-8";

    // A table that declares nothing is read once first to tell what its
    // text is.
    bool foundUtf8 = false;
    if (layer.kind == CodePageDeclaration::Kind::Undeclared && target) {
        const TableText found = scanTableText(hDBF);
        if (!found.anyHigh) {
            text.plainValues_ = !found.anyLineBreak;
            return text;
        }
        if (!found.allHighUtf8) {
            text.countStored_ = true;
            text.mapCodePage_ = mapNumber;
            return text;
        }
        if (mapIsUtf8) return text;
        source = openConverter("UTF-8");
        text.layerCodePage_ = "UTF-8";
        foundUtf8 = true;
    }
    if (!source || !target || canonicalName(source.get()) == canonicalName(target.get())) {
        return text;
    }

    const bool asciiPassesThrough = isAsciiCompatible(source.get());
    text.converter_ = makeConverter(std::move(source), std::move(target));
    if (text.converter_ == nullptr) {
        printUnknown(mapNumber);
        return text;
    }
    text.asciiPassesThrough_ = asciiPassesThrough;
    text.mapCodePage_ = mapNumber;
    if (foundUtf8) {
        printOut("[INF] Text is converted from UTF-8 (found in the values; the layer declares no "
                 "code page) to code page " +
                 mapNumber + ".\n");
    } else {
        printOut("[INF] Text is converted from " + declared + " to code page " + mapNumber +
                 ".\n");
    }
    return text;
}

std::string TextCodePage::convertCommandLineText(std::string_view text,
                                                 const std::optional<std::string>& mapCodePage) {
    const bool plain = std::none_of(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0x80) != 0;
    });
    if (plain || !isValidUtf8(text)) return std::string(text);
    bool mapKnown = false;
    ConverterPtr target = openMapConverter(std::string(trimmed(mapCodePage ? *mapCodePage : "")),
                                           mapKnown);
    if (!target || canonicalName(target.get()) == "UTF-8") return std::string(text);
    ConverterPtr source = openConverter("UTF-8");
    const std::unique_ptr<TextConverter> converter = makeConverter(std::move(source), std::move(target));
    if (converter == nullptr) return std::string(text);
    converter->convert(text);
    return converter->encoded;
}

void TextCodePage::writeWithoutLineBreaks(OutputStream& out, std::string_view text) {
    // Table data must not start new lines in the file.
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lineBreak = text.find_first_of("\r\n", start);
        if (lineBreak == std::string_view::npos) {
            out.writeRaw(text.data() + start, text.size() - start);
            return;
        }
        out.writeRaw(text.data() + start, lineBreak - start);
        out.writeRaw(" ", 1);
        start = lineBreak + 1;
    }
}

std::string_view TextCodePage::writeSpecialValue(OutputStream& out, std::string_view value,
                                                 int record) {
    if (converter_ == nullptr) {
        // Without a converter only values with a byte above 127 come here.
        if (countStored_) {
            if (nStored_ == 0) firstStored_ = record + 1;
            ++nStored_;
        }
        writeWithoutLineBreaks(out, value);
        return value;
    }
    if (converter_->convert(value)) {
        if (nLacking_ == 0) firstLacking_ = record + 1;
        ++nLacking_;
    }
    writeWithoutLineBreaks(out, converter_->encoded);
    return converter_->encoded;
}

std::string TextCodePage::convertName(const std::string& name) {
    std::string written = name;
    if (converter_ != nullptr &&
        (!asciiPassesThrough_ ||
         std::any_of(name.begin(), name.end(),
                     [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; }))) {
        converter_->convert(name);
        written = converter_->encoded;
    }
    for (char& c : written) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return written;
}

std::string_view TextCodePage::valueAsUtf8(std::string_view value) {
    if (layerCodePage_.empty() || layerCodePage_ == "UTF-8") return value;
    if (std::none_of(value.begin(), value.end(),
                     [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; }) &&
        asciiPassesThrough_) {
        return value;
    }
    if (utf8Reader_ == nullptr) {
        utf8Reader_ = std::make_unique<Utf8Reader>();
        utf8Reader_->source = openConverter(layerCodePage_);
    }
    Utf8Reader& reader = *utf8Reader_;
    if (!reader.source) return value;
    UErrorCode status = U_ZERO_ERROR;
    reader.decoded.resize(value.size() * 2 + 2);
    ucnv_resetToUnicode(reader.source.get());
    const int32_t nDecoded =
        ucnv_toUChars(reader.source.get(), reader.decoded.data(),
                      static_cast<int32_t>(reader.decoded.size()), value.data(),
                      static_cast<int32_t>(value.size()), &status);
    if (U_FAILURE(status)) return value;
    reader.utf8.resize(static_cast<std::size_t>(nDecoded) * 3 + 4);
    int32_t nUtf8 = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(reader.utf8.data(), static_cast<int32_t>(reader.utf8.size()), &nUtf8,
                       reader.decoded.data(), nDecoded, 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return value;
    reader.utf8.resize(static_cast<std::size_t>(nUtf8));
    return reader.utf8;
}

void TextCodePage::printClosingWarnings() const {
    char message[320];
    if (nLacking_ > 0) {
        std::snprintf(message, sizeof message,
                      "\n[WRN] %i values have characters that code page %s lacks; they were "
                      "written as the nearest Latin letters or \"?\" (first: record %i).",
                      nLacking_, mapCodePage_.c_str(), firstLacking_);
        printOut(message);
    }
    if (nStored_ > 0) {
        std::snprintf(message, sizeof message,
                      "\n[WRN] %i values have letters beyond ASCII in a table that does not "
                      "declare its code page; they were written as stored, which map compilers "
                      "read as code page %s (first: record %i).",
                      nStored_, mapCodePage_.c_str(), firstStored_);
        printOut(message);
    }
}

}  // namespace orvtessel
