// Runs one whole conversion (or two) on a layer packed into a single byte
// string, and checks what the runs leave in the scratch folder.
//
// Input format (one fuzz input, also the format of seeds and regressions):
//
//   byte 0      argument choice (see below); absent means all zero
//   byte 1      more argument choice; absent means all zero
//   bytes 2-3   only when byte 1 has bit 4 set: the option choice
//   rest        .shp SEP .shx SEP .dbf [SEP dictionary [SEP .prj [SEP .cpg
//               [SEP type map [SEP existing map]]]]]
//
// SEP is the 6 bytes "ORVSEP". Files are split at each separator in turn;
// a part that is missing because there are fewer separators is not written,
// so the run also sees absent files. Without bit 4 of byte 1 there are at
// most six parts and bytes after a sixth separator belong to the .cpg (the
// format before the option choice existed, read as it always was); with it,
// at most eight, and bytes after an eighth separator belong to the existing
// map.
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
//          bit 4     bytes 2 and 3 follow, and the two further parts
// Byte 2:  bits 0-1  type map: 0 = none, 1 = "--type-map FILE" with the
//                    input's type map part, 2 = the same as
//                    "--type-map=FILE", 3 = "--type-map" naming a folder
//                    (a type map part that is absent is a missing file)
//          bits 2-5  end level: 0 = none, 1-10 = "--end-level" 0 to 9,
//                    11 = "--end-level 10" (refused), 12-15 =
//                    "--end-level=" 0, 3, 6, 9
//          bit 6     -q
//          bit 7     "--" before the positional arguments
// Byte 3:  bits 0-1  runs: 0 = one run; 1 = an append run onto the
//                    existing map part, placed at the output path; 2 = a
//                    normal run, then an append run onto its output;
//                    3 = as 1, but -o names a symbolic link to the map
//                    (with output choice 0 there is no -o: as 1)
//          bits 2-4  --layer-code-page: none, UTF-8, 1252, CP1251,
//                    ISO-8859-2, cp866, windows-1250, CP99999 (unknown)
//          bits 5-6  output: 0 = no -o (the layer path with ".mp"),
//                    1 = "-o FILE", 2 = "-o -" (refused with --append),
//                    3 = "--output=FILE" (and "--append" for -a)
//          bit 7     before a normal run, the output path already holds
//                    the existing map part (the run replaces it)
// An include-all argument of "absent" with trailing arguments present is
// given as "y", because the arguments are positional. An append run gets
// no dictionary, map ID or map name (the converter refuses them there);
// the normal run before it does.
//
// After each run the harness aborts, so that the fuzzer keeps the input,
// when a "*.tmp" file is left in the scratch folder, when a run that failed
// changed the output path (or created it), or when a successful run into a
// file left no whole map: the appended bytes must follow the existing map
// unchanged (after a CR LF when it did not end with a line end), and what
// a run adds after the header (after the built-in header's
// "[END-IMG ID]" and empty line, after an existing map) must be empty or
// end with a section's "[END]" and empty line; a map made with a
// dictionary must end with a line end.
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
