#include "core/file1_handlers.h"

#include "core/log_operations.h"
#include "core/log_window.h"

namespace parlotrim {

File1Handlers::File1Handlers(LogWindow& window, LogOperations& operations)
    : window_(window), operations_(operations) {}

void File1Handlers::File1_KeyDown(int& keyCode, int shift) {
  ignoreFileClick_ = static_cast<qint16>(keyCode);
  if (keyCode == kKeyEnter) keyCode = kKeyTab;
  if (keyCode == kKeyTab && shift == 0) {
    operations_.LoadSequence();
  } else if (keyCode == kKeyTab && shift == kShiftMask) {
    window_.SetFocus(Control::Check1);
  }
}

void File1Handlers::File1_Click() {
  if (ignoreFileClick_ != 0) {
    ignoreFileClick_ = 0;
    return;
  }
  int keyCode = kKeyEnter;
  File1_KeyDown(keyCode, 0);
}

void File1Handlers::File1_GotFocus() {
  ignoreFileClick_ = 0;
}

void File1Handlers::File1_KeyPress(int& keyAscii) {
  if (keyAscii == kKeyTab || keyAscii == kKeyEnter) keyAscii = 0;
}

}  // namespace parlotrim
