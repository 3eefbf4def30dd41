#pragma once
// Carries out an extraction plan (zip_plan.h) using the processor's cores.
#include <cstddef>
#include <functional>

#include "zip/zip_plan.h"
#include "zip/zip_reader.h"

enum class RunOutcome {
  Complete,  // every planned entry was written
  Failed,    // an entry could not be written
  Stopped,   // afterEntry asked to stop
};

// Writes the planned entries below `tree`: first the folders, in archive order on the
// calling thread, then the files, decoded on `threads` threads (each with its own
// decoder, all reading `archive` with positioned reads).
//
// afterEntry(i), when given, is called on the calling thread for each entry in archive
// order as soon as that entry and every entry before it are written; returning false
// stops the run after entry i.
//
// Files may be written in any order, yet the run ends on disk as writing the entries one
// after another in archive order would: when entry f fails (or the run stops after entry
// s), every entry before it is written and nothing after it is. To that end a file that
// exists is never replaced before the end of the run: the new data go to a temporary file
// beside it, renamed over it once every entry before it is known to be written. Files and
// folders created for entries past the end are removed again, and a failed entry leaves
// nothing behind (an existing file in its place stays as it was).
RunOutcome runExtraction(const ZipArchive& archive, const TargetTree& tree,
                         const ExtractionPlan& plan, int threads,
                         const std::function<bool(size_t)>& afterEntry);
