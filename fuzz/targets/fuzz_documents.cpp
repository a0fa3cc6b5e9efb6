// The document loaders: text lines of .hex and .cfg files, the "(J" lines
// of .prg files, the command list file, and a saved script read back.
//
// Lines are compared with a splitter written from the line-end rule; the
// command list must read like any other text file; every "(J" line must
// give back its word and offset; a saved script must read back unchanged.

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/documents.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/mem_file.h"
#include "motor/console.h"

namespace {

using Lines = std::vector<std::string>;

// CR LF, LF and a lone CR each end a line; an end at the very end of the
// text starts no further line.
Lines reference_lines(std::string_view text) {
    Lines lines;
    std::string current;
    bool open = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines.push_back(current);
            current.clear();
            open = false;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            current += text[i];
            open = true;
        }
    }
    if (open) lines.push_back(current);
    return lines;
}

std::string show(const Lines& lines) {
    std::string s = std::to_string(lines.size()) + " lines:";
    for (const auto& l : lines) s += " [" + escaped(l) + "]";
    return s;
}

void check_prg(std::string_view bytes, const Lines& lines) {
    FUZZ_CHECK(lines.size() == bytes.size() / 2, "one line per whole word, got " + show(lines));
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        FUZZ_CHECK(line.rfind("(J", 0) == 0, "line starts with (J: " + escaped(line));
        std::uint32_t value = 0;
        const auto [end, error] =
            std::from_chars(line.data() + 2, line.data() + line.size(), value);
        FUZZ_CHECK(error == std::errc() && end == line.data() + line.size(),
                   "plain unsigned number: " + escaped(line));
        const std::uint32_t word =
            static_cast<std::uint8_t>(bytes[2 * k]) |
            static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[2 * k + 1])) << 8;
        FUZZ_CHECK((value & 0xFFFF) == word, "word of line " + std::to_string(k));
        FUZZ_CHECK((value >> 16) == ((2 * k) & 0xFFFF), "offset of line " + std::to_string(k));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemFile file("kfu-fuzz-document");
    static const FuzzTempFile saved_file("saved.cfg");
    const std::string& saved = saved_file.path;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(file.set(text), "memory file");

    std::string refusal;
    const auto lines = ReadTextLines(file.path(), &refusal);
    FUZZ_CHECK(lines.has_value() && refusal.empty(), "small file refused: " + refusal);
    const Lines expected = reference_lines(text);
    FUZZ_CHECK(*lines == expected, "read " + show(*lines) + ", expected " + show(expected));

    Lines list;
    FUZZ_CHECK(read_list_file(file.path(), list), "command list unreadable");
    FUZZ_CHECK(list == expected, "command list " + show(list) + ", expected " + show(expected));

    const auto prg = ReadPrgFile(file.path());
    FUZZ_CHECK(prg.has_value(), "program file unreadable");
    check_prg(text, *prg);
    FUZZ_CHECK(PrgLines(text) == *prg, "program lines from memory and from the file differ");

    // What a script view holds is saved and must come back line for line.
    FUZZ_CHECK(SaveScript(saved, *lines).empty(), "script not saved");
    const auto back = ReadTextLines(saved);
    FUZZ_CHECK(back && *back == *lines,
               "saved script read back as " + show(back ? *back : Lines{}));

    // The kind of a document goes by the last four characters of its name.
    const std::string_view name = text.substr(0, std::min<std::size_t>(text.size(), 12));
    const DocumentKind kind = KindOfFile(name);
    std::string ending;
    if (name.size() >= 4) {
        for (char c : name.substr(name.size() - 4))
            ending += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    const DocumentKind expected_kind = ending == ".HEX"   ? DocumentKind::Hex
                                       : ending == ".PRG" ? DocumentKind::Prg
                                       : ending == ".CFG" ? DocumentKind::Cfg
                                                          : DocumentKind::None;
    FUZZ_CHECK(kind == expected_kind, "kind of '" + escaped(name) + "'");
    return 0;
}
