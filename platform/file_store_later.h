// What a file store keeps between its calls: the system's file operations, and the last steps
// of its latest rewrite or document, which wait until the user has been told.
#pragma once

#include <memory>

#include "platform/file_store.h"
#include "platform/log_rewrite.h"
#include "platform/system_files.h"

namespace parlotrim {

struct FileStore::Later : Tidying {
  explicit Later(SystemCalls& calls) : files(calls) {}
  SystemFiles files;
  std::unique_ptr<RewriteFile> lingering;  // a replaced document: its space is freed at close
};

}  // namespace parlotrim
