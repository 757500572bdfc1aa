// The names a layer gives its code page: the .cpg file's spellings, the
// dBASE language driver byte, and the converter library's names for them.
#pragma once

#include <string>
#include <string_view>

namespace orvtessel {

// How a declaration names its code page.
struct CodePageDeclaration {
    enum class Kind {
        Undeclared,  // nothing declared, or the system's ANSI code page (LDID/87)
        Named,       // converterName names it for the converter library
    };
    Kind kind = Kind::Undeclared;
    std::string converterName;  // empty when the converter library knows no such code page
};

// Reads a layer's declaration as shapelib reports it: the first line of the
// .cpg file, or "LDID/N" from the .dbf header's language driver byte.
CodePageDeclaration parseLayerCodePage(std::string_view declaration);

// True when `name`, in any form a .cpg file takes ("UTF-8", "1252",
// "CP1251", "ISO-8859-2", a name of the converter library, ...), names a
// code page the converter library can read.
bool isKnownCodePage(std::string_view name);

// The code page of a dBASE language driver byte; 0 when the byte names
// none (87, "ANSI", or an unknown driver).
int languageDriverCodePage(int languageDriver);

// The converter library's name for a Windows or DOS code page number
// (65001 is UTF-8); empty when it knows none.
std::string converterNameForNumber(long number);

// True for a text of decimal digits, at least one.
bool allDigits(std::string_view text);

// The number of a text of digits, or -1 when there are too many of them.
long numberOf(std::string_view digits);

}  // namespace orvtessel
