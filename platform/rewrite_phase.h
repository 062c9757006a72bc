// Where a rewrite of a log in place has got to. A process killed at any of them leaves the log
// as it was, or the complete new content in a synced copy that the next run finishes.
#pragma once

namespace parlotrim {

enum class Phase {
  CopyWritten,   // the copy of the new content is written and synced, under a temporary name
  CopyNamed,     // ... and renamed to say it is complete (the log is untouched)
  LogSized,      // the log has its new length, or holds the new content and zeros after it
  CopySized,     // ... the copy is renamed to say so (a log that gets shorter is still to cut)
  LogWritten,    // the new content is in the log and synced; the copy is still there
  DocumentNamed  // a document replaced by rename; its folder is not yet synced
};

}  // namespace parlotrim
