// Code page declarations in their spellings, the dBASE language drivers,
// and the UTF-8 check behind the warning about undeclared text.
#include <string>

#include <gtest/gtest.h>

#include "text_code_page.h"

using orvtessel::CodePageDeclaration;
using orvtessel::isValidUtf8;
using orvtessel::languageDriverCodePage;
using orvtessel::parseLayerCodePage;

namespace {

constexpr const char* kUndeclared = "<undeclared>";
constexpr const char* kUnknown = "";

std::string parsed(const std::string& declaration) {
    const CodePageDeclaration result = parseLayerCodePage(declaration);
    return result.kind == CodePageDeclaration::Kind::Undeclared ? kUndeclared : result.converterName;
}

TEST(CodePageDeclaration, Spellings) {
    const struct {
        const char* declaration;
        const char* converterName;
    } cases[] = {
        {"UTF-8", "UTF-8"}, {"utf8", "UTF-8"}, {" 65001 ", "UTF-8"}, {"UTF-8\r", "UTF-8"},
        {"1251", "windows-1251"}, {"CP1252", "windows-1252"}, {"cp1250", "windows-1250"},
        {"ANSI 1257", "windows-1257"}, {"ansi1253", "windows-1253"}, {"WINDOWS-1254", "windows-1254"},
        {"437", "windows-437"}, {"CP850", "windows-850"}, {"866", "windows-866"},
        {"932", "windows-932"}, {"936", "windows-936"}, {"949", "windows-949"}, {"950", "windows-950"},
        {"874", "windows-874"},
        {"ISO-8859-1", "ISO-8859-1"}, {"ISO8859-2", "ISO-8859-2"}, {"ISO_8859-5", "ISO-8859-5"},
        {"ISO88597", "ISO-8859-7"}, {"8859-9", "ISO-8859-9"}, {"8859_15", "ISO-8859-15"},
        {"88591", "ISO-8859-1"}, {"iso-8859-13", "ISO-8859-13"},
        // Language driver bytes.
        {"LDID/1", "windows-437"}, {"LDID/2", "windows-850"}, {"LDID/3", "windows-1252"},
        {"LDID/100", "windows-852"}, {"LDID/101", "windows-866"}, {"LDID/38", "windows-866"},
        {"LDID/200", "windows-1250"}, {"LDID/201", "windows-1251"}, {"LDID/202", "windows-1254"},
        {"LDID/203", "windows-1253"}, {"LDID/204", "windows-1257"}, {"LDID/77", "windows-936"},
        {"LDID/122", "windows-936"}, {"LDID/78", "windows-949"}, {"LDID/121", "windows-949"},
        {"LDID/79", "windows-950"}, {"LDID/120", "windows-950"}, {"LDID/19", "windows-932"},
        {"LDID/123", "windows-932"}, {"LDID/80", "windows-874"}, {"LDID/124", "windows-874"},
        {"LDID/88", "windows-1252"}, {"LDID/89", "windows-1252"},
        // The writing system's ANSI code page, or nothing: undeclared.
        {"LDID/87", kUndeclared}, {"", kUndeclared}, {"  ", kUndeclared},
        // Other names go to the converter library as they are.
        {"KOI8-R", "KOI8-R"}, {"Big5", "Big5"},
        // Names and numbers nobody knows.
        {"klingon", kUnknown}, {"LDID/66", kUnknown}, {"LDID/x", kUnknown}, {"99999", kUnknown},
        {"ISO-8859-99", kUnknown}, {"CP", kUnknown}, {"12345678901234", kUnknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parsed(c.declaration), c.converterName) << '"' << c.declaration << '"';
    }
}

TEST(CodePageDeclaration, LanguageDriversWithoutCodePage) {
    EXPECT_EQ(languageDriverCodePage(0x57), 0);
    EXPECT_EQ(languageDriverCodePage(0x00), 0);
    EXPECT_EQ(languageDriverCodePage(0xFF), 0);
    EXPECT_EQ(languageDriverCodePage(0x03), 1252);
}

TEST(Utf8Check, ValidAndInvalidSequences) {
    const struct {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain", true},
        {"\xc5\x81\xc3\xb3\x64\xc5\xba", true},  // Łódź
        {"\xe2\x82\xac", true},                  // €
        {"\xf0\x9f\x97\xba", true},              // a 4-byte character
        {"\xf4\x8f\xbf\xbf", true},              // U+10FFFF
        {"\xa3\xf3\x64\x9f", false},             // Łódź in code page 1250
        {"\xc5", false},                         // cut short
        {"\xe2\x82", false},
        {"\xc0\xaf", false},                     // overlong "/"
        {"\xe0\x80\xaf", false},
        {"\xed\xa0\x80", false},                 // a surrogate
        {"\xf4\x90\x80\x80", false},             // beyond U+10FFFF
        {"\x80", false},                         // a lone continuation byte
        {"\xc3\x28", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << c.bytes;
    }
}

}  // namespace
