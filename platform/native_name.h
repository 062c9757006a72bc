// A file or folder name as the file system holds it: bytes on POSIX systems, where a name need
// not be valid in any encoding (a Shift JIS name copied from Windows), and UTF-16 on Windows.
// Names are passed on as they are and decoded only to be shown.
#pragma once

#include <QByteArray>
#include <QString>

namespace parlotrim {

#ifdef Q_OS_WIN
using NativeName = QString;
inline constexpr char16_t kFolderSeparator = u'\\';
#else
using NativeName = QByteArray;
inline constexpr char kFolderSeparator = '/';
#endif

// A name of the program's own, which is ASCII on every system, as a native name and shown.
inline NativeName AsciiName(const char* ascii) {
#ifdef Q_OS_WIN
  return QString::fromLatin1(ascii);
#else
  return QByteArray(ascii);
#endif
}
inline QString ShownAscii(const NativeName& name) {
#ifdef Q_OS_WIN
  return name;
#else
  return QString::fromLatin1(name);
#endif
}

}  // namespace parlotrim
