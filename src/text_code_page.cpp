#include "text_code_page.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>
#include <unicode/uset.h>
#include <unicode/utf16.h>
#include <unicode/utrans.h>

#include "ascii_text.h"
#include "code_page_names.h"
#include "console.h"

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

}  // namespace

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

struct TextCodePage::Converter {
    ConverterPtr source;
    ConverterPtr target;
    USet* targetSet = nullptr;          // what the map's code page can hold
    UTransliterator* toLatin = nullptr;  // Any-Latin; Latin-ASCII, made when first needed
    bool toLatinTried = false;
    const UNormalizer2* nfc = nullptr;
    bool invalidBytes = false;  // set by the to-Unicode callback
    std::vector<UChar> decoded;
    std::vector<UChar> normalized;
    std::vector<UChar> fitted;
    std::vector<UChar> run;
    std::string encoded;

    ~Converter() {
        if (targetSet != nullptr) uset_close(targetSet);
        if (toLatin != nullptr) utrans_close(toLatin);
    }

    // Converts `value`; returns true when a character had to be replaced.
    bool convert(std::string_view value);

    // Building the transliterator takes milliseconds; most layers never
    // need it.
    UTransliterator* transliterator() {
        if (!toLatinTried) {
            toLatinTried = true;
            UErrorCode status = U_ZERO_ERROR;
            const std::u16string rules = u"Any-Latin; Latin-ASCII";
            toLatin = utrans_openU(rules.data(), static_cast<int32_t>(rules.size()), UTRANS_FORWARD,
                                   nullptr, 0, nullptr, &status);
            if (U_FAILURE(status)) toLatin = nullptr;
        }
        return toLatin;
    }
};

bool TextCodePage::Converter::convert(std::string_view value) {
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
        int32_t limit = nRun;
        status = U_ZERO_ERROR;
        if (UTransliterator* latin = transliterator(); latin != nullptr) {
            utrans_transUChars(latin, run.data(), &nRun, static_cast<int32_t>(run.size()), 0, &limit,
                               &status);
        }
        if (U_FAILURE(status)) {
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

TextCodePage::TextCodePage() = default;
TextCodePage::TextCodePage(TextCodePage&&) noexcept = default;
TextCodePage& TextCodePage::operator=(TextCodePage&&) noexcept = default;
TextCodePage::~TextCodePage() = default;

TextCodePage TextCodePage::forLayer(const char* layerDeclaration,
                                    const std::optional<std::string>& mapCodePage) {
    TextCodePage text;

    std::string_view rawDeclaration = layerDeclaration != nullptr ? layerDeclaration : "";
    if (rawDeclaration.substr(0, 3) == "\xEF\xBB\xBF") rawDeclaration.remove_prefix(3);
    const std::string declared(trimmed(rawDeclaration));
    const CodePageDeclaration layer = parseLayerCodePage(declared);
    ConverterPtr source;
    if (layer.kind == CodePageDeclaration::Kind::Named) {
        source = openConverter(layer.converterName);
        if (!source) printUnknown(declared);
    }

    // The map's code page: a number; 0, a text that is no number, or none
    // at all leave the text as it is.
    ConverterPtr target;
    bool mapIsUtf8 = false;
    const std::string mapNumber(trimmed(mapCodePage ? *mapCodePage : ""));
    if (allDigits(mapNumber) && numberOf(mapNumber) != 0) {
        target = openConverter(converterNameForNumber(numberOf(mapNumber)));
        if (target && !isAsciiCompatible(target.get())) target.reset();
        if (!target) printUnknown(mapNumber);
        mapIsUtf8 = target && canonicalName(target.get()) == "UTF-8";
    }

    // Undeclared text is written as stored, but UTF-8 in it is pointed out.
    text.watchForUtf8_ = !source && !mapIsUtf8;
    if (!source || !target || canonicalName(source.get()) == canonicalName(target.get())) {
        return text;
    }

    auto converter = std::make_unique<Converter>();
    UErrorCode status = U_ZERO_ERROR;
    converter->nfc = unorm2_getNFCInstance(&status);
    converter->targetSet = uset_openEmpty();
    ucnv_getUnicodeSet(target.get(), converter->targetSet, UCNV_ROUNDTRIP_SET, &status);
    if (U_FAILURE(status)) {
        printUnknown(mapNumber);
        return text;
    }
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(source.get(), invalidBytesToQuestionMark, &converter->invalidBytes,
                        nullptr, nullptr, &status);
    // Characters are fitted before encoding; anything left is a "?".
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(target.get(), "?", 1, &status);
    text.asciiPassesThrough_ = isAsciiCompatible(source.get());
    converter->source = std::move(source);
    converter->target = std::move(target);
    text.converter_ = std::move(converter);
    text.mapCodePage_ = mapNumber;
    printOut("[INF] Text is converted from " + declared + " to code page " + mapNumber + ".\n");
    return text;
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
        // Without a converter only values with a byte above 127 come here,
        // so valid UTF-8 holds a multi-byte sequence.
        if (watchForUtf8_ && isValidUtf8(value)) {
            if (nLookLikeUtf8_ == 0) firstLookLikeUtf8_ = record + 1;
            ++nLookLikeUtf8_;
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

void TextCodePage::printClosingWarnings() const {
    char message[240];
    if (nLacking_ > 0) {
        std::snprintf(message, sizeof message,
                      "\n[WRN] %i values have characters that code page %s lacks; they were "
                      "written as the nearest Latin letters or \"?\" (first: record %i).",
                      nLacking_, mapCodePage_.c_str(), firstLacking_);
        printOut(message);
    }
    if (nLookLikeUtf8_ > 0) {
        std::snprintf(message, sizeof message,
                      "\n[WRN] %i values look like UTF-8 text, but the layer does not declare "
                      "its code page; they were written as stored (first: record %i).",
                      nLookLikeUtf8_, firstLookLikeUtf8_);
        printOut(message);
    }
}

}  // namespace orvtessel
