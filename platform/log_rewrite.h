// Rewriting a log in place, safely: the steps behind FileStore::RewriteLog, and the finishing
// of a rewrite that a crash cut short, over the file operations of the system at hand.
#pragma once

#include <memory>

#include "platform/file_store.h"
#include "platform/rewrite_files.h"

namespace parlotrim {

// What is left to do once a rewrite can be told complete: the new content is in the log and
// safe in its synced copy, so the log's own sync and the copy's removal may wait until the
// user has read the news. Finish does them; a crash before leaves the copy, from which the next
// read finishes the rewrite.
struct Tidying {
  std::unique_ptr<RewriteLog> log;  // the rewritten log, to sync
  NativeName copy;                  // its copy, removed once the log is synced
  NativeName folder;                // where the copy lies
  void Finish(RewriteFiles& files);
};

// later, where given, takes the last steps of the rewrite instead of doing them at once.
FileResult RewriteInPlace(RewriteFiles& files, const NativeName& folder, const NativeName& name,
                          const FileStore::BlockSink& sink, const FileStore::Producer& produce,
                          Tidying* later = nullptr);

// Finishes an interrupted rewrite of the log folder + name, or of every log of folder when name
// is empty. A log that cannot be finished now (another program has it open) fails to read.
FileResult FinishInterruptedRewrite(RewriteFiles& files, const NativeName& folder,
                                    const NativeName& name);

}  // namespace parlotrim
