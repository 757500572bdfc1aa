// The code page of the layer's text and of the map, and the conversion of
// attribute values and column names from one to the other.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <shapefil.h>

#include "code_page_names.h"
#include "output_stream.h"
#include "table_text.h"

namespace orvtessel {

// The conversion of text from one code page to another.
struct TextConverter;

class TextCodePage {
public:
    // Decides from the layer's declaration and the map's code page as its
    // header gives it (nothing when the header has none) whether text is
    // converted, and prints the decision: the conversion line, or a warning
    // for a code page the converter library does not know.
    //
    // The declaration is `givenCodePage` when it is not null (the user's
    // name for the layer's code page, in any form a .cpg file takes, named
    // in the conversion line as given), else the table's own: the .cpg file
    // or the language driver byte. When the table declares nothing and the
    // map's code page is known, every value of every record is read once
    // first: values in UTF-8 are converted from UTF-8, other text is
    // written as stored and counted for a closing warning.
    static TextCodePage forLayer(DBFHandle hDBF, const std::optional<std::string>& mapCodePage,
                                 const char* givenCodePage = nullptr);

    // A text typed on the command line (the map's name or ID) as the map's
    // header holds it: converted from UTF-8 to the map's code page, with
    // the transliteration values get, when it is valid UTF-8 and the map's
    // code page (as its header gives it) is known and differs; otherwise
    // as typed. Prints nothing and counts nothing.
    static std::string convertCommandLineText(std::string_view text,
                                              const std::optional<std::string>& mapCodePage);

    TextCodePage(TextCodePage&&) noexcept;
    TextCodePage& operator=(TextCodePage&&) noexcept;
    ~TextCodePage();

    // Writes one attribute value of `record`: converted when the layer's
    // code page differs from the map's, CR and LF as spaces. Returns the
    // text as written, before CR and LF become spaces; valid until the next
    // value.
    std::string_view writeValue(OutputStream& out, const char* value, int record) {
        if (plainValues_) {
            // The whole table was read before: no value holds a byte above
            // 127, a CR or an LF.
            const std::string_view text(value);
            out.writeRaw(text);
            return text;
        }
        // Plain ASCII is the same in every code page this program converts
        // between: it is written straight away.
        const char* p = value;
        unsigned char high = 0;
        bool lineBreak = false;
        for (; *p != '\0'; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            high |= c;
            lineBreak |= c == '\r' || c == '\n';
        }
        const std::string_view text(value, static_cast<std::size_t>(p - value));
        if ((high & 0x80) == 0 && asciiPassesThrough_) {
            if (!lineBreak) {
                out.writeRaw(text);
            } else {
                writeWithoutLineBreaks(out, text);
            }
            return text;
        }
        return writeSpecialValue(out, text, record);
    }

    // A column name as it is written: converted like the values, not counted.
    std::string convertName(const std::string& name);

    // The closing warnings about the text, each only when it applies.
    void printClosingWarnings() const;

    // A value as UTF-8 text, for comparing it with text the user wrote:
    // converted from the layer's code page, or as stored when the layer's
    // code page is undeclared or unknown. Valid until the next call.
    std::string_view valueAsUtf8(std::string_view value);

private:
    TextCodePage();

    std::string_view writeSpecialValue(OutputStream& out, std::string_view value, int record);
    static void writeWithoutLineBreaks(OutputStream& out, std::string_view text);

    std::unique_ptr<TextConverter> converter_;
    bool asciiPassesThrough_ = true;
    bool plainValues_ = false;
    bool countStored_ = false;  // undeclared text beyond ASCII is written as stored
    std::string mapCodePage_;
    int nLacking_ = 0;
    int firstLacking_ = 0;
    int nStored_ = 0;
    int firstStored_ = 0;

    // The layer's code page for valueAsUtf8 (empty: as stored), and its
    // converter, opened when first needed.
    std::string layerCodePage_;
    struct Utf8Reader;
    std::unique_ptr<Utf8Reader> utf8Reader_;
};

}  // namespace orvtessel
