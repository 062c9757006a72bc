// Program-wide cleaning answers. Every load of a named log sets them; Change and Save and
// HTML Save read them, so both always clean with the answers given at the latest load.
#pragma once

namespace parlotrim {

struct Module1 {
  bool NullDelete = false;  // drop empty lines ("Ask:Null Delete")
  bool LineDelete = false;  // empty the "----" separator lines ("Ask:Line Delete")
};

}  // namespace parlotrim
