#pragma once

#include "Rational.h"
#include "RenderRequest.h"

#include <QString>
#include <QStringList>
#include <optional>

// What lumenweave-render is asked to make, from its command-line options. The
// same options come from a command line or from any other list of strings
// (a batch line's keys and values), and mean the same.
struct RenderOptions {
    enum class Output { png, pngSequence, video };

    RenderRequest request;
    QString output; // the path to write, "-" for standard output
    Output kind = Output::png;
    bool help = false;
    bool verbose = false; // say which route draws
    QString batch;        // a file of one JSON object of options per line
    // Videos and sequences: frame k shows request.time + k / fps.
    Rational duration;               // seconds; with --loop the loop's duration
    Rational fps = 30;               // frames per second
    bool loop = false;               // duration chosen so the animation closes on itself
    std::int64_t frameCount() const; // duration × fps, a whole number
    // request.time + k / fps; nothing when it cannot be held exactly.
    std::optional<Rational> frameTime(std::int64_t k) const;
};

// Which options a list may hold: all of the command line's; a batch line's
// (no help, batch or verbose); or, without an output path, those of one
// picture or of a run of frames (--duration and --fps) made in memory.
enum class OptionScope { commandLine, batchLine, picture, frames };

struct ParsedRenderOptions {
    RenderOptions options;
    QString error; // one line saying what is wrong; empty when all is well
};

// Parses options as the command line gives them, without the program's name:
// "--name value", "--name=value", flags, and one output path.
ParsedRenderOptions parseRenderOptions(const QStringList& arguments,
                                       OptionScope scope = OptionScope::commandLine);

// The options explained, in Japanese, for --help.
QString renderOptionsHelp();

// The longest video and the longest loop, in seconds.
inline constexpr std::int64_t kMaxVideoSeconds = 3600;
inline constexpr std::int64_t kMaxLoopSeconds = 600;
