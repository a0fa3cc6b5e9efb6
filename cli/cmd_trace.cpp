// Reading a wire trace back: the records as they stand in the file, kept by
// operation or time span, so that the output is a trace again.

#include "cli/command_support.h"
#include "cli/commands.h"
#include "serial/trace_reader.h"

namespace cli {

CommandOutcome cmd_trace(const Options& options, Output& out) {
    LineReporter reporter(out, "", options.yes);
    const TraceFilter filter{options.trace_operation, options.trace_from_us, options.trace_to_us};
    // A trace runs to many MiB: printed in pieces, not a flush per record.
    constexpr std::size_t kPiece = 64 * 1024;
    std::string piece;
    const TraceSummary summary =
        read_trace(options.file, filter, [&out, &piece](const TraceRecord& record) {
            piece += record.line;
            piece += '\n';
            if (piece.size() >= kPiece) {
                out.raw(piece);
                piece.clear();
            }
        });
    if (!piece.empty()) out.raw(piece);
    if (!summary.read) {
        return failed_before_start(reporter, kExitFile, cannot_read(options.file));
    }
    CommandOutcome outcome;
    for (const std::string& problem : summary.problems) reporter.error(problem);
    if (!summary.problems.empty()) outcome.exit_code = kExitFile;
    // A program that was killed leaves its trace like this; what it holds is
    // still whole, so reading it is no failure.
    if (!summary.ended) {
        reporter.error(
            "the trace was cut off: it has no closing note and ends with the record "
            "last written");
    }
    outcome.figures["records"] = summary.records;
    outcome.figures["parts"] = summary.parts;
    keep_lines(reporter, outcome);
    return outcome;
}

}  // namespace cli
