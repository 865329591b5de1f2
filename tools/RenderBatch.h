#pragma once

#include "RenderOptions.h"

#include <QString>
#include <functional>

// Renders one entry to its output; returns what failed, or nothing.
using RenderEntry = std::function<QString(const RenderOptions&)>;

// Renders every entry of a batch file (path, or "-" for standard input): each
// line one JSON object whose "output" is the path to write and whose other keys
// are the command line's options without "--", with a number or a string as
// value, true for a flag (false leaves it out). Entries of the GPU generator are
// made by its CPU route, several at once over every core; entries that need the
// GPU itself (the image filter) go to render on the calling thread once startGpu
// says a GPU is there. One line on standard error per failed entry, with its
// line number, and a progress line on a terminal; a failed entry does not stop
// the others. Once stopped says so, no entry starts and one line says how many
// were written. Returns the exit status: 1 when any entry failed or the batch
// was stopped, else 0.
int runBatch(const QString& path, bool verbose, const RenderEntry& render,
             const std::function<bool()>& startGpu, const std::function<bool()>& stopped);
