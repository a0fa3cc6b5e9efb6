#pragma once
// The documents the main window opens and saves: HEX firmware files, Java
// program files (.prg) and configuration scripts (.cfg). Plain file logic;
// the window decides what to show and where.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/reporter.h"
#include "firmware/flashmem.h"

enum class DocumentKind { None, Hex, Prg, Cfg };

// By the last four characters of the name, in either letter case: ".hex",
// ".prg", ".cfg". A shorter name is none of them.
DocumentKind KindOfFile(std::string_view file_name);

// Documents are read whole into memory, so anything larger than this is
// refused: no firmware, program or script comes near it, and a huge file or
// a device given a document's name would otherwise exhaust memory.
constexpr std::uintmax_t kMaxDocumentBytes = 64u * 1024 * 1024;

// The file's lines as a text control shows them: CR LF, LF and a lone CR
// each end a line, a line end at the very end of the file does not start
// another line, and the bytes of each line are kept as they are. No value
// when the file cannot be opened, nor when it is larger than
// kMaxDocumentBytes; `refusal` (when given) then receives an "Error: ..."
// line for the message area. A file that cannot be opened gives no line.
std::optional<std::vector<std::string>> ReadTextLines(const std::string& path,
                                                      std::string* refusal = nullptr);

// One "(J" line per complete pair of bytes: the upper 16 bits of the number
// are the pair's offset in the file, the lower 16 bits the little-endian
// word. A last byte without a partner gives no line: the upload can only
// send whole words, and a made-up partner byte would be sent as program.
std::vector<std::string> PrgLines(std::string_view bytes);
// The same from a file; no value when it cannot be opened or is too large
// (as for ReadTextLines). A read that fails part way ends the list of lines
// there.
std::optional<std::vector<std::string>> ReadPrgFile(const std::string& path,
                                                    std::string* refusal = nullptr);

// Writes the script's lines, each ended by LF (the platform's own line end,
// which the script reader accepts like the others). Returns an empty text
// on success, otherwise an "Error: ..." line for the message area; a failed
// save can leave a partly written file behind, which the line then names.
std::string SaveScript(const std::string& path, const std::vector<std::string>& lines);

// Opening a file caps the lines parsed; the AutoFlash reload parses all.
constexpr std::size_t kMaxHexLines = 262144;
enum class HexLines { Capped, All };

// Fills the image with 0xFF and parses the lines in order, and keeps what
// the load met with the image. The image is filled even when there are no
// lines; opening a file skips the call then.
HexLoadReport LoadHexDocument(FirmwareImage& image, const std::vector<std::string>& lines,
                              HexLines which = HexLines::Capped);

// One "Warning: ..." line per kind of trouble in the report, none when the
// file loaded cleanly.
std::vector<std::string> HexLoadWarnings(const HexLoadReport& report);
void ReportHexLoad(const HexLoadReport& report, Reporter& reporter);
