// Runs one whole conversion on a layer packed into a single byte string.
//
// Input format (one fuzz input, also the format of seeds and regressions):
//
//   byte 0      argument choice (see below); absent means all zero
//   byte 1      more argument choice; absent means all zero
//   rest        .shp SEP .shx SEP .dbf [SEP dictionary [SEP .prj [SEP .cpg]]]
//
// SEP is the 6 bytes "ORVSEP". Files are split at each separator in turn;
// a part that is missing because there are fewer separators is not written,
// so the run also sees absent files. Bytes after a sixth separator belong
// to the .cpg.
//
// Byte 0:  bits 0-1  type column:  0 = the table's first column name,
//                                  1 = its second, 2 = its last,
//                                  3 = a name no table has
//          bits 2-3  label column: the same choices
//          bits 4-5  include-all argument: 0 = absent, 1 = "n", 2 = "y",
//                                          3 = "" (anything but "n" is yes)
//          bits 6-7  trailing arguments: 0 = none, 1 = dictionary,
//                    2 = dictionary and map ID, 3 = dictionary, ID, name
// Byte 1:  bit 0     layer named without ".shp" (shapelib adds it)
//          bit 1     dictionary path points at a missing file
//          bit 2     map ID and name hold CR / LF and non-ASCII bytes
//          bit 3     dictionary path names a folder
// An include-all argument of "absent" with trailing arguments present is
// given as "y", because the arguments are positional.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvtesselfuzz {

// Creates the per-process scratch folder and sends standard output to
// /dev/null (the converter prints a banner and a progress line per record).
// Standard error stays, for the sanitizers and shapelib's reports. Safe to
// call more than once.
void initializeHarness();

// Writes the files packed in data into the scratch folder and runs the
// converter on them in-process.
void runOneInput(const std::uint8_t* data, std::size_t size);

// The separator between the packed files.
inline constexpr char kSeparator[] = "ORVSEP";
inline constexpr std::size_t kSeparatorSize = sizeof kSeparator - 1;

}  // namespace orvtesselfuzz
