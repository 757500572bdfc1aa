// Code page declarations in their spellings, the dBASE language drivers,
// the UTF-8 check behind the reading of undeclared text, a code page the
// user names for the layer, and text typed on the command line.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "layer_writer.h"
#include "output_stream.h"
#include "program_run.h"
#include "text_code_page.h"

using orvtessel::CodePageDeclaration;
using orvtessel::isKnownCodePage;
using orvtessel::isValidUtf8;
using orvtessel::languageDriverCodePage;
using orvtessel::parseLayerCodePage;
using orvtessel::TextCodePage;
namespace fs = std::filesystem;

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

TEST(CodePageDeclaration, KnownNamesInEveryForm) {
    const struct {
        const char* name;
        bool known;
    } cases[] = {
        {"UTF-8", true}, {"utf8", true}, {"65001", true}, {"1252", true}, {"CP1251", true},
        {"ISO-8859-2", true}, {"iso8859_15", true}, {"ANSI 1251", true}, {"windows-1250", true},
        {"KOI8-R", true}, {"Big5", true}, {"LDID/3", true}, {" 1250 ", true},
        // No code page, the writer's ANSI code page, or nothing ICU knows.
        {"", false}, {"  ", false}, {"LDID/87", false}, {"LDID/66", false}, {"klingon-1", false},
        {"CP", false}, {"99999", false}, {"ISO-8859-99", false}, {"UTF-9", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isKnownCodePage(c.name), c.known) << '"' << c.name << '"';
    }
}

// A one-column table written by shapelib, its .cpg and language driver as
// given; each value converted by a TextCodePage for the map's code page
// 1250 and `givenCodePage`. Returns what was printed and what was written,
// values separated by "|".
struct Written {
    std::string out;
    std::string values;
};

Written writeValues(const std::string& name, const std::vector<std::string>& values,
                    const char* cpg, int languageDriver, const char* givenCodePage) {
    using namespace testsupport;
    const fs::path dir = scratchFolder("TextCodePage." + name);
    std::vector<std::vector<std::string>> records;
    for (const std::string& value : values) records.push_back({value});
    writeTable(dir / "layer", {{"NAME", FTString, 40, 0}}, records);
    if (cpg != nullptr) writeFile(dir / "layer.cpg", cpg);
    std::string dbf = readFile(dir / "layer.dbf");
    dbf[29] = static_cast<char>(languageDriver);
    writeFile(dir / "layer.dbf", dbf);

    DBFHandle hDBF = DBFOpen((dir / "layer.dbf").string().c_str(), "rb");
    EXPECT_NE(hDBF, nullptr);
    if (hDBF == nullptr) return {};
    Written written;
    orvtessel::OutputStream out;
    EXPECT_TRUE(out.open((dir / "values.txt").string()));
    testing::internal::CaptureStdout();
    {
        TextCodePage text = TextCodePage::forLayer(hDBF, std::string("1250"), givenCodePage);
        for (int r = 0; r < static_cast<int>(values.size()); ++r) {
            if (r > 0) out.writeRaw("|");
            text.writeValue(out, DBFReadStringAttribute(hDBF, r, 0), r);
        }
        text.printClosingWarnings();
    }
    std::fflush(stdout);
    written.out = testing::internal::GetCapturedStdout();
    DBFClose(hDBF);
    EXPECT_TRUE(out.close());
    written.values = readFile(dir / "values.txt");
    return written;
}

TEST(GivenCodePage, ReplacesTheCpgAndTheLanguageDriver) {
    const std::string moscow1251 = "\xcc\xee\xf1\xea\xe2\xe0";
    const std::string lacking =
        "\n[WRN] 1 values have characters that code page 1250 lacks; they were written as the "
        "nearest Latin letters or \"?\" (first: record 1).";
    const struct {
        const char* name;
        std::vector<std::string> values;
        const char* cpg;
        int languageDriver;
        const char* given;
        std::string out;
        std::string writtenValues;
    } cases[] = {
        // The .cpg says UTF-8, the language driver 1252: the given 1251 wins,
        // and the line names it as typed.
        {"OverCpg", {moscow1251, "plain"}, "UTF-8", 0x03, "CP1251",
         "[INF] Text is converted from CP1251 to code page 1250.\n" + lacking, "Moskva|plain"},
        // Nothing declared, the values Latin-1: no reading of the values,
        // converted from the given code page.
        {"OverNothing", {"Espa\xf1\x61", "Caf\xe9"}, nullptr, 0x57, "iso8859_1",
         "[INF] Text is converted from iso8859_1 to code page 1250.\n" + lacking, "Espana|Caf\xe9"},
        // A language driver of 1251, values in UTF-8.
        {"OverDriver", {"\xc5\x81\xc3\xb3\x64\xc5\xba"}, nullptr, 0xC9, "utf8",
         "[INF] Text is converted from utf8 to code page 1250.\n", "\xa3\xf3\x64\x9f"},
        // The map's own code page: nothing to convert, nothing said, even
        // over a .cpg that would convert.
        {"SameAsMap", {"\xa3\xf3\x64\x9f"}, "UTF-8", 0x57, "1250", "", "\xa3\xf3\x64\x9f"},
        // Without a given code page the table's own declaration counts.
        {"NoneGiven", {moscow1251}, nullptr, 0xC9, nullptr,
         "[INF] Text is converted from LDID/201 to code page 1250.\n" + lacking, "Moskva"},
    };
    for (const auto& c : cases) {
        const Written written = writeValues(c.name, c.values, c.cpg, c.languageDriver, c.given);
        EXPECT_EQ(written.out, c.out) << c.name;
        EXPECT_EQ(written.values, c.writtenValues) << c.name;
    }
}

TEST(CommandLineText, ConvertedToTheMapsCodePageWhenUtf8) {
    const struct {
        std::string text;
        std::optional<std::string> mapCodePage;
        std::string written;
    } cases[] = {
        // UTF-8 to code page 1250: "–" and "ř" are in it, Cyrillic is
        // transliterated as values are.
        {"Brno \xe2\x80\x93 st\xc5\x99\x65\x64", "1250", "Brno \x96 st\xf8\x65\x64"},
        {"\xd0\x9c\xd0\xbe\xd1\x81\xd0\xba\xd0\xb2\xd0\xb0", "1250", "Moskva"},
        {"\xc5\x81\xc3\xb3\x64\xc5\xba", " 1252 ", "L\xf3\x64z"},
        {"\xe6\x9d\xb1\xe4\xba\xac", "932", "\x93\x8c\x8b\x9e"},
        {"Caf\x65\xcc\x81", "1250", "Caf\xe9"},  // composed first
        // Not UTF-8 (Latin-1, cut short): as typed.
        {"Caf\xe9", "1250", "Caf\xe9"},
        {"ab\xc5", "1250", "ab\xc5"},
        // ASCII, a UTF-8 map, or no known map code page: as typed.
        {"12345678", "1250", "12345678"},
        {"Brno \xe2\x80\x93 st\xc5\x99\x65\x64", "65001", "Brno \xe2\x80\x93 st\xc5\x99\x65\x64"},
        {"st\xc5\x99\x65\x64", std::nullopt, "st\xc5\x99\x65\x64"},
        {"st\xc5\x99\x65\x64", "0", "st\xc5\x99\x65\x64"},
        {"st\xc5\x99\x65\x64", "latin2", "st\xc5\x99\x65\x64"},
        {"st\xc5\x99\x65\x64", "4711", "st\xc5\x99\x65\x64"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        const std::string written = TextCodePage::convertCommandLineText(c.text, c.mapCodePage);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.text;  // nothing printed
        EXPECT_EQ(written, c.written) << c.text << " to " << c.mapCodePage.value_or("(none)");
    }
}

}  // namespace
