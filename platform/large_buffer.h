// Buffers as large as a log: the text of a load and the results of the two saves. They are
// filled once, from one end to the other.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace parlotrim {

// A buffer of at least size bytes, none of them set: the large buffer kept from earlier work
// where that is big enough. Memory the program already holds is used again rather than fresh
// memory, which the system must clear first and which, on a virtual machine, the host may
// have taken back and must fetch again: that made a save of a large log take twice as long now
// and then. Its size is all of the memory lent; work that fills it from the back uses the same
// memory as earlier work did. allocate: how much to take where new memory is taken, so that
// later work finds it large enough (memory never written costs address space only).
QByteArray LendLargeBuffer(qsizetype size, qsizetype allocate = 0);

// Keeps buffer for the next LendLargeBuffer when it is large and nothing else refers to it;
// one buffer is kept at most, and a smaller one never takes the place of a larger. The next
// lend takes it or lets it go.
void KeepLargeBuffer(QByteArray&& buffer);

// Lets the kept buffer go now (work that would have used it has ended).
void ReleaseLargeBuffer();

}  // namespace parlotrim
