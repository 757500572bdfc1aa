// Text code pages: attribute values and column names reach the map in the
// code page its header declares, converted from the layer's declared one.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expected.h"
#include "layer_writer.h"
#include "program_run.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct Declaration {
    const char* cpg = nullptr;  // the .cpg file's text, if there is one
    int languageDriver = 0x57;        // shapelib writes 0x57 ("ANSI")
};

struct Conversion {
    std::string out;    // standard output, running time masked
    std::string lines;  // the attribute lines of all sections, "\n" line ends
};

// A point layer with columns TYPE and NAME (and NOTE when given), one point
// per name, converted with the given extra arguments (a dictionary).
Conversion convertNames(const std::string& name, const Declaration& declaration,
                        const std::vector<std::string>& names,
                        const std::optional<std::string>& dictionary = std::nullopt,
                        const std::string& columnName = "NOTE",
                        const std::function<void(std::string& dbf)>& editTable = {}) {
    const fs::path dir = scratchFolder("CodePage." + name);
    Layer layer;
    layer.fields = {{"TYPE", FTString, 8, 0}, {"NAME", FTString, 80, 0}, {columnName, FTString, 4, 0}};
    for (const std::string& label : names) {
        layer.shapes.push_back(point(1, 2));
        layer.records.push_back({"1", label, "n"});
    }
    writeLayer(dir / "layer", layer);
    if (declaration.cpg != nullptr) writeFile(dir / "layer.cpg", declaration.cpg);
    std::string dbf = readFile(dir / "layer.dbf");
    dbf[29] = static_cast<char>(declaration.languageDriver);
    if (editTable) editTable(dbf);
    writeFile(dir / "layer.dbf", dbf);
    std::vector<std::string> args = {"layer.shp", "TYPE", "NAME"};
    if (dictionary) {
        writeFile(dir / "dict.txt", *dictionary);
        args.insert(args.end(), {"y", "dict.txt"});
    }
    const RunResult run = runProgram(dir, args);
    Conversion conversion;
    conversion.out = maskRunningTime(run.out);
    std::string file = readFile(dir / "layer.shp.mp");
    for (std::size_t at = file.find("Data0=(2.000000,1.000000)\r\n"); at != std::string::npos;
         at = file.find("Data0=(2.000000,1.000000)\r\n", at)) {
        at += 27;
        const std::size_t end = file.find("[END]", at);
        conversion.lines += file.substr(at, end - at);
    }
    std::string unixLines;
    for (std::size_t i = 0; i < conversion.lines.size(); ++i) {
        if (conversion.lines.compare(i, 2, "\r\n") == 0) {
            unixLines += '\n';
            ++i;
        } else {
            unixLines += conversion.lines[i];
        }
    }
    conversion.lines = unixLines;
    return conversion;
}

std::string linesOf(const std::vector<std::string>& labels, const std::string& note = "NOTE") {
    std::string lines;
    for (const std::string& label : labels) lines += "Type=1\nLabel=" + label + "\n" + note + "=n\n";
    return lines;
}

std::string runOut(std::size_t nRecords, const std::string& before, const std::string& afterLoop = "",
                   const std::string& header = kNoDictionary) {
    std::vector<int> percents;
    for (std::size_t i = 0; i < nRecords; ++i) {
        const double p = static_cast<double>(i) / static_cast<double>(nRecords) * 100.0;
        percents.push_back(static_cast<int>(p + 0.5));
    }
    return convertedRun("layer.shp", "Point", progress(percents), afterLoop, header + before);
}

const std::string kUtf8ToMap = "[INF] Text is converted from UTF-8 to code page 1250.\n";

TEST(CodePage, Utf8LayerIsWrittenInTheMapsCodePage) {
    // Polish, German, French, Czech keep their letters (code page 1250 has
    // them, with "é" in NFD form composed first); Russian, Greek and the
    // letters 1250 lacks become Latin letters.
    const std::vector<std::string> names = {
        "\xc5\x81\xc3\xb3\x64\xc5\xba",                       // Łódź
        "Stra\xc3\x9f\x65",                                   // Straße
        "Cr\xc3\xa8me br\xc3\xbbl\xc3\xa9\x65",               // Crème brûlée
        "Caf\x65\xcc\x81",                                    // Café, decomposed
        "\xc4\x8c\x65sk\xc3\xa9 Bud\xc4\x9bjovice",           // České Budějovice
        "Plain ASCII",
        "\xd0\x9c\xd0\xbe\xd1\x81\xd0\xba\xd0\xb2\xd0\xb0",   // Москва
        "\xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1",           // Αθήνα
        "S\xc3\xa3o Paulo, Espa\xc3\xb1\x61, \xc3\x98resund", // São Paulo, España, Øresund
        "Gy\xc5\x91r",                                        // Győr
    };
    const Conversion conversion = convertNames("Utf8", {"UTF-8\r\n"}, names);
    EXPECT_EQ(conversion.lines,
              linesOf({"\xa3\xf3\x64\x9f", "Stra\xdf\x65", "Cr\x65me brul\xe9\x65", "Caf\xe9",
                       "\xc8\x65sk\xe9 Bud\xec\x6aovice", "Plain ASCII", "Moskva", "Athena",
                       "Sao Paulo, Espana, Oresund", "Gy\xf5r"}));
    // "Crème brûlée": 1250 has neither è nor û.
    EXPECT_EQ(conversion.out,
              runOut(names.size(), kUtf8ToMap,
                     "\n[WRN] 4 values have characters that code page 1250 lacks; they were written as "
                     "the nearest Latin letters or \"?\" (first: record 3)."));
}

TEST(CodePage, DeclarationsAreReadInTheirSpellings) {
    const struct {
        const char* name;
        Declaration declaration;
        std::string label;
        std::string message;  // what the run prints before the kind message
        std::string written;
        bool lacking = false;  // the closing warning about letters 1250 lacks
    } cases[] = {
        // ISO-8859-1 (Latin-1) in its spellings.
        {"Iso88591", {"ISO-8859-1"}, "Caf\xe9 \xdf", "[INF] Text is converted from ISO-8859-1 to code page 1250.\n",
         "Caf\xe9 \xdf"},
        {"Iso88591Short", {" 88591 "}, "\xd1", "[INF] Text is converted from 88591 to code page 1250.\n", "N", true},
        {"Iso88591Lower", {"iso8859_1"}, "\xe9", "[INF] Text is converted from iso8859_1 to code page 1250.\n",
         "\xe9"},
        // Windows code pages by number; the map's own one is no conversion.
        {"Cp1251", {"1251"}, "\xcc\xee\xf1\xea\xe2\xe0", "[INF] Text is converted from 1251 to code page 1250.\n",
         "Moskva", true},
        {"Ansi1251", {"ANSI 1251"}, "\xcc\xee\xf1\xea\xe2\xe0",
         "[INF] Text is converted from ANSI 1251 to code page 1250.\n", "Moskva", true},
        {"Windows1252", {"windows-1252"}, "\x80", "[INF] Text is converted from windows-1252 to code page 1250.\n",
         "\x80"},
        {"Same1250", {"CP1250"}, "\xa3\xf3\x64\x9f", "", "\xa3\xf3\x64\x9f"},
        // The language driver byte when there is no .cpg: 0xC9 is 1251.
        {"LanguageDriver", {nullptr, 0xC9}, "\xcc\xee\xf1\xea\xe2\xe0",
         "[INF] Text is converted from LDID/201 to code page 1250.\n", "Moskva", true},
        {"LanguageDriver850", {nullptr, 0x02}, "\x82", "[INF] Text is converted from LDID/2 to code page 1250.\n",
         "\xe9"},
        // Windows numbers for ISO-8859 parts; a byte order mark is no part
        // of the declaration.
        {"Windows28591", {"28591"}, "\xe9", "[INF] Text is converted from 28591 to code page 1250.\n", "\xe9"},
        {"ByteOrderMark", {"\xef\xbb\xbfUTF-8"}, "\xc5\x81", kUtf8ToMap, "\xa3"},
        // The .cpg wins over the byte.
        {"CpgOverDriver", {"UTF-8", 0xC9}, "\xc5\x81", kUtf8ToMap, "\xa3"},
        // LDID/87 ("ANSI"), no language driver and an empty .cpg declare
        // nothing: see UndeclaredTextIsReadBeforeTheFirstSection.
        // Names the converter library knows.
        {"Koi8r", {"KOI8-R"}, "\xed\xcf\xd3\xcb\xd7\xc1", "[INF] Text is converted from KOI8-R to code page 1250.\n",
         "Moskva", true},
        // Unknown: a warning, and written as stored.
        {"Unknown", {"klingon-1"}, "\xcc\xee", "[WRN] Code page klingon-1 is unknown; text is written as stored.\n",
         "\xcc\xee"},
        {"UnknownLdid", {nullptr, 0x42}, "\xcc\xee",
         "[WRN] Code page LDID/66 is unknown; text is written as stored.\n", "\xcc\xee"},
    };
    for (const auto& c : cases) {
        const Conversion conversion = convertNames(std::string("Declared.") + c.name, c.declaration, {c.label});
        EXPECT_EQ(conversion.lines, linesOf({c.written})) << c.name;
        const std::string lacking =
            "\n[WRN] 1 values have characters that code page 1250 lacks; they were written as the "
            "nearest Latin letters or \"?\" (first: record 1).";
        EXPECT_EQ(conversion.out, runOut(1, c.message, c.lacking ? lacking : "")) << c.name;
    }
}

TEST(CodePage, InvalidBytesBecomeQuestionMarks) {
    const Conversion conversion =
        convertNames("Invalid", {"UTF-8"}, {"ok", "a\xff" "b", "\xc5", "x\xe2\x82y", "\xc5\x81"});
    EXPECT_EQ(conversion.lines, linesOf({"ok", "a?b", "?", "x?y", "\xa3"}));
    EXPECT_EQ(conversion.out,
              runOut(5, kUtf8ToMap,
                     "\n[WRN] 3 values have characters that code page 1250 lacks; they were written as "
                     "the nearest Latin letters or \"?\" (first: record 2)."));
}

TEST(CodePage, RepeatedLettersAreTransliteratedAlikeAndCounted) {
    // Москва three times, once within other text, then Αθήνα and Москва
    // again: each value that lacks letters is counted, however often its
    // letters were transliterated before.
    const std::string moscow = "\xd0\x9c\xd0\xbe\xd1\x81\xd0\xba\xd0\xb2\xd0\xb0";
    const std::string athens = "\xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1";
    const std::vector<std::string> names = {moscow, "plain", moscow, "\xd1\x83\xd0\xbb. " + moscow,
                                            athens, moscow};
    const Conversion conversion = convertNames("Repeated", {"UTF-8"}, names);
    EXPECT_EQ(conversion.lines, linesOf({"Moskva", "plain", "Moskva", "ul. Moskva", "Athena", "Moskva"}));
    EXPECT_EQ(conversion.out,
              runOut(names.size(), kUtf8ToMap,
                     "\n[WRN] 5 values have characters that code page 1250 lacks; they were written as "
                     "the nearest Latin letters or \"?\" (first: record 1)."));
}

// The byte offset of record r (0-based) in a .dbf file's bytes.
std::size_t recordOffset(const std::string& dbf, std::size_t r) {
    const auto byteAt = [&](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(dbf[i])); };
    const std::size_t nHeaderLength = byteAt(8) | byteAt(9) << 8;
    const std::size_t nRecordLength = byteAt(10) | byteAt(11) << 8;
    return nHeaderLength + r * nRecordLength;
}

TEST(CodePage, UndeclaredTextIsReadBeforeTheFirstSection) {
    const std::string lodz = "\xc5\x81\xc3\xb3\x64\xc5\xba";  // Łódź in UTF-8
    const std::string lodz1250 = "\xa3\xf3\x64\x9f";
    const std::string strasse = "Stra\xc3\x9f\x65";
    const std::string foundUtf8 =
        "[INF] Text is converted from UTF-8 (found in the values; the layer declares no code page) "
        "to code page 1250.\n";
    const auto asStored = [](int nValues, int first, const char* codePage = "1250") {
        return "\n[WRN] " + std::to_string(nValues) +
               " values have letters beyond ASCII in a table that does not declare its code page; "
               "they were written as stored, which map compilers read as code page " +
               codePage + " (first: record " + std::to_string(first) + ").";
    };
    const std::string utf8Map = "[IMG ID]\nCodepage=65001\n[END-IMG ID]\n";
    const std::string noCodePageMap = "[IMG ID]\nID=1\n[END-IMG ID]\n";
    // Record 3 (0-based 2) marked deleted, its NOTE field holding Latin-1.
    const auto deletedLatin1 = [](std::string& dbf) {
        const std::size_t at = recordOffset(dbf, 2);
        dbf[at] = '*';
        dbf.replace(at + 1 + 8 + 80, 4, "\xe9t\xe9 ");
    };
    // NOTE holds "n", a NUL and a Latin-1 byte: shapelib's value ends at the NUL.
    const auto afterNul = [](std::string& dbf) { dbf.replace(recordOffset(dbf, 0) + 1 + 8 + 80, 4, std::string("n\0\xe9\xe9", 4)); };
    const struct {
        const char* name;
        Declaration declaration;
        std::vector<std::string> labels;
        std::optional<std::string> dictionary;
        std::function<void(std::string&)> editTable;
        std::string message;  // before the kind message
        std::vector<std::string> written;
        std::string afterLoop;
        std::vector<std::string> notes;  // the NOTE values written, "n" when empty
    } cases[] = {
        // Valid UTF-8 throughout: converted as from a declared UTF-8 layer,
        // whether the language driver says "ANSI", nothing, or the .cpg is empty.
        {"Ldid87Utf8", {nullptr, 0x57}, {"plain", lodz, strasse}, std::nullopt, {}, foundUtf8,
         {"plain", lodz1250, "Stra\xdf\x65"}, "", {}},
        {"NoDriverUtf8", {nullptr, 0}, {lodz}, std::nullopt, {}, foundUtf8, {lodz1250}, "", {}},
        {"EmptyCpgUtf8", {"", 0}, {"\xd0\x9c\xd0\xbe"}, std::nullopt, {}, foundUtf8, {"Mo"},
         "\n[WRN] 1 values have characters that code page 1250 lacks; they were written as the "
         "nearest Latin letters or \"?\" (first: record 1).", {}},
        // ASCII only: nothing to say.
        {"Ascii", {nullptr, 0x57}, {"plain", "text"}, std::nullopt, {}, "", {"plain", "text"}, "", {}},
        // UTF-8 mixed with code page 1250, or Latin-1 alone: as stored, and
        // the values beyond ASCII counted.
        {"Mixed", {nullptr, 0x57}, {"plain", lodz, lodz1250}, std::nullopt, {}, "", {"plain", lodz, lodz1250},
         asStored(2, 2), {}},
        {"Latin1", {nullptr, 0}, {"Caf\xe9", "plain", "\xe9t\xe9"}, std::nullopt, {}, "",
         {"Caf\xe9", "plain", "\xe9t\xe9"}, asStored(2, 1), {}},
        {"Cp1251", {""}, {"\xcc\xee"}, std::nullopt, {}, "", {"\xcc\xee"}, asStored(1, 1), {}},
        // A map in UTF-8 takes UTF-8 as it is; other text is said.
        {"Utf8MapUtf8", {nullptr, 0x57}, {lodz, strasse}, utf8Map, {}, "", {lodz, strasse}, "", {}},
        {"Utf8MapLatin1", {nullptr, 0x57}, {"Caf\xe9"}, utf8Map, {}, "", {"Caf\xe9"}, asStored(1, 1, "65001"), {}},
        // A map whose code page is not known: as stored, nothing said.
        {"UnknownMapLatin1", {nullptr, 0x57}, {"Caf\xe9"}, noCodePageMap, {}, "", {"Caf\xe9"}, "", {}},
        // A deleted record is read like the others: its Latin-1 keeps the
        // whole table as stored.
        {"DeletedRecord", {nullptr, 0x57}, {lodz, "plain", "x"}, std::nullopt, deletedLatin1, "",
         {lodz, "plain", "x"}, asStored(2, 1), {"n", "n", "\xe9t\xe9"}},
        // Bytes after a NUL are no part of the value.
        {"AfterNul", {nullptr, 0x57}, {lodz}, std::nullopt, afterNul, foundUtf8, {lodz1250}, "", {}},
    };
    for (const auto& c : cases) {
        const Conversion conversion = convertNames(std::string("Undeclared.") + c.name, c.declaration,
                                                   c.labels, c.dictionary, "NOTE", c.editTable);
        std::string lines;
        for (std::size_t i = 0; i < c.written.size(); ++i) {
            lines += "Type=1\nLabel=" + c.written[i] + "\nNOTE=" + (c.notes.empty() ? "n" : c.notes[i]) + "\n";
        }
        EXPECT_EQ(conversion.lines, lines) << c.name;
        const std::string header = c.dictionary ? "[INF] Using dictionary file: dict.txt\n" : kNoDictionary;
        EXPECT_EQ(conversion.out, runOut(c.labels.size(), c.message, c.afterLoop, header)) << c.name;
    }
}

TEST(CodePage, DictionaryDeclaresTheMapsCodePage) {
    const std::string utf8Names[] = {"\xc5\x81\xc3\xb3\x64\xc5\xba", "\xd0\x9c\xd0\xbe"};
    const std::string usingDictionary = "[INF] Using dictionary file: dict.txt\n";
    const struct {
        const char* name;
        Declaration declaration;
        std::string dictionary;
        std::vector<std::string> labels;
        std::string message;
        std::vector<std::string> written;
        std::string afterLoop;
    } cases[] = {
        // UTF-8 to a UTF-8 map: unchanged, no message.
        {"Utf8ToUtf8", {"UTF-8"}, "[IMG ID]\nCodepage=65001\n", {utf8Names[0], utf8Names[1]}, "",
         {utf8Names[0], utf8Names[1]}, ""},
        // Code page 1250 to a UTF-8 map.
        {"Cp1250ToUtf8", {"1250"}, "[IMG ID]\nCodepage=65001\n", {"\xa3\xf3\x64\x9f"},
         "[INF] Text is converted from 1250 to code page 65001.\n", {utf8Names[0]}, ""},
        // The key in any case; the first such line counts.
        {"Cp1252", {"UTF-8"}, "[IMG ID]\n CodePage = 1252\nCodepage=1250\n", {"Stra\xc3\x9f\x65 \xc5\x81"},
         "[INF] Text is converted from UTF-8 to code page 1252.\n", {"Stra\xdf\x65 L"},
         "\n[WRN] 1 values have characters that code page 1252 lacks; they were written as the "
         "nearest Latin letters or \"?\" (first: record 1)."},
        // No code page, 0, or a value that is no number: no conversion.
        {"NoCodepageLine", {"UTF-8"}, "[IMG ID]\nID=1\n", {utf8Names[0]}, "", {utf8Names[0]}, ""},
        {"Zero", {"UTF-8"}, "Codepage=0\n", {utf8Names[0]}, "", {utf8Names[0]}, ""},
        {"NotANumber", {"UTF-8"}, "Codepage=latin2\nCodepage=1250\n", {utf8Names[0]}, "", {utf8Names[0]}, ""},
        // DOS and East Asian code pages as the map's (their tables differ
        // from ASCII in control bytes only).
        {"Cp866", {"UTF-8"}, "Codepage=866\n", {"\xd0\x9c\xd0\xbe"},
         "[INF] Text is converted from UTF-8 to code page 866.\n", {"\x8c\xae"}, ""},
        {"Cp932", {"UTF-8"}, "Codepage=932\n", {"\xe6\x9d\xb1\xe4\xba\xac"},  // 東京
         "[INF] Text is converted from UTF-8 to code page 932.\n", {"\x93\x8c\x8b\x9e"}, ""},
        {"Cp437", {"UTF-8"}, "Codepage=437\n", {"Caf\xc3\xa9"},
         "[INF] Text is converted from UTF-8 to code page 437.\n", {"Caf\x82"}, ""},
        // A number the converter library does not know.
        {"UnknownNumber", {"UTF-8"}, "Codepage=4711\n", {utf8Names[0]},
         "[WRN] Code page 4711 is unknown; text is written as stored.\n", {utf8Names[0]}, ""},
    };
    for (const auto& c : cases) {
        const Conversion conversion =
            convertNames(std::string("Dictionary.") + c.name, c.declaration, c.labels, c.dictionary);
        EXPECT_EQ(conversion.lines, linesOf(c.written)) << c.name;
        EXPECT_EQ(conversion.out, runOut(c.labels.size(), c.message, c.afterLoop, usingDictionary)) << c.name;
    }
}

TEST(CodePage, ColumnNamesAreConvertedAndLineBreaksStaySpaces) {
    // The column name "ŁÓD" in UTF-8 (shapelib keeps up to 11 bytes), a
    // value with CR LF after conversion. "Ж" is a run of its own: its
    // transliteration "Ž" goes on to ASCII.
    const Conversion conversion = convertNames("ColumnName", {"UTF-8"}, {"\xc5\x81\r\n\xd0\x96"}, std::nullopt,
                                               "\xc5\x81\xc3\x93\x44");
    EXPECT_EQ(conversion.lines, "Type=1\nLabel=\xa3  Z\n\xa3\xd3\x44=n\n");
    EXPECT_EQ(conversion.out,
              runOut(1, kUtf8ToMap,
                     "\n[WRN] 1 values have characters that code page 1250 lacks; they were written as "
                     "the nearest Latin letters or \"?\" (first: record 1)."));
}

}  // namespace
