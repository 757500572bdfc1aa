// What the text of an attribute table is, read straight from its file
// before any section is written, and the UTF-8 check behind it.
#pragma once

#include <string_view>

#include <shapefil.h>

namespace orvtessel {

// What the values of a table hold, as shapelib returns them.
struct TableText {
    bool anyHigh = false;       // some value has a byte above 127
    bool allHighUtf8 = true;    // every such value is valid UTF-8
    bool anyLineBreak = false;  // a CR or LF may be in a value
};

// Reads the stored records of the table in large blocks, straight from its
// file, and looks at every field of every record (deleted ones too) as
// shapelib would return it: the field's bytes up to a NUL. The spaces
// shapelib trims are ASCII and change nothing here. Stops early once some
// value is found that is not UTF-8. Moves the file position, which
// shapelib sets again before every record it reads.
TableText scanTableText(DBFHandle hDBF);

// True when the bytes are valid UTF-8 (no overlong forms, surrogates or
// values above U+10FFFF).
bool isValidUtf8(std::string_view bytes);

}  // namespace orvtessel
