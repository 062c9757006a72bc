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

}  // namespace parlotrim
