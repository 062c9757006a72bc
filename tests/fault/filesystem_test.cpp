// Rewrites killed on real file systems, remounted after each crash (FAT and exFAT renumber files
// at each mount); the unmount writes out what the killed process left cached: no power cut.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <string>

#include "tests/fault/fault_support.h"

namespace parlotrim::testing {
namespace {

struct FileSystem {
  const char* name;
  const char* tools;  // the programs it needs, separated by spaces
  const char* mkfs;   // %1: the image; none for a file system without one
  const char* mount;  // %1: the loop device or the image, %2: the mount point
  bool served;        // the mount command serves the file system until it is unmounted
  bool onLoop;        // mounted from a loop device, not from the image itself
  int megabytes;
  friend void PrintTo(const FileSystem& fs, std::ostream* os) { *os << fs.name; }
};

// A tmpfs ends with its mount: it is not mounted again, as memory stays when a program dies.
const FileSystem kFileSystems[] = {
    {"ext4", "mkfs.ext4", "mkfs.ext4 -q -F %1", "mount -t ext4 %1 %2", false, true, 64},
    {"btrfs", "mkfs.btrfs", "mkfs.btrfs -q %1", "mount -t btrfs %1 %2", false, true, 128},
    {"tmpfs", "mount", "", "mount -t tmpfs -o size=64m parlotrim %2", false, false, 0},
    {"exFAT", "mkfs.exfat mount.exfat-fuse", "mkfs.exfat %1", "mount.exfat-fuse -d %1 %2", true,
     true, 64},
    {"NTFS", "mkntfs ntfs-3g", "mkntfs -q -F -Q %1", "ntfs-3g -o no_detach %1 %2", true, true, 64},
    {"FAT", "mkfs.vfat fusefat", "mkfs.vfat %1", "fusefat -f -o rw+ %1 %2", true, false, 64},
};

// Runs a shell command; true if it succeeded. Its output goes to output.
bool Shell(const QString& command, std::string* output = nullptr) {
  FILE* pipe = ::popen((command + " 2>&1").toLocal8Bit().constData(), "r");
  std::string out;
  char buffer[512];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  const bool ok = pipe && ::pclose(pipe) == 0;
  if (output) *output = QByteArray::fromStdString(out).trimmed().toStdString();
  return ok;
}

// A file system made in a sparse image in a temporary folder and mounted there, until it goes.
class Volume {
 public:
  explicit Volume(const FileSystem& fs) : fs_(fs) {
    const QString image = work_.filePath("image");
    std::string out;
    for (const QString& tool : QString(fs.tools).split(' '))
      if (refused_.empty() && !Shell("command -v " + tool)) refused_ = "no " + tool.toStdString();
    if (refused_.empty() && *fs.mkfs &&
        !Shell(QString("truncate -s %1M %2 && ").arg(fs.megabytes).arg(image) +
                   QString(fs.mkfs).replace("%1", image),
               &out))
      refused_ = fs.mkfs + (": " + out);
    if (refused_.empty() && fs.onLoop && !Shell("losetup --find --show " + image, &out))
      refused_ = "no loop device: " + out;
    if (refused_.empty() && fs.onLoop) device_ = QString::fromStdString(out);
    source_ = fs.onLoop ? device_ : image;
    if (refused_.empty() && (!work_.isValid() || !QDir(work_.path()).mkdir("mnt") || !Mount(&out)))
      refused_ = "mount refused: " + out;
  }
  ~Volume() {
    if (!Unmount()) ::umount2(path().constData(), MNT_DETACH);  // the folder goes all the same
    if (!device_.isEmpty()) Shell("losetup -d " + device_);
  }
  const std::string& refused() const { return refused_; }
  QByteArray path() const { return QFile::encodeName(work_.filePath("mnt")); }

  bool Remount() { return !*fs_.mkfs || (Unmount() && Mount()); }

 private:
  bool Mount(std::string* output = nullptr) {
    const QString command =
        QString(fs_.mount).replace("%1", source_).replace("%2", work_.filePath("mnt"));
    if (!fs_.served) return Shell(command, output) && (mounted_ = MountedHere());
    const QByteArray line = ("exec " + command + " >/dev/null 2>&1").toLocal8Bit();
    if ((server_ = ::fork()) == 0) {
      ::execl("/bin/sh", "sh", "-c", line.constData(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The server mounts, then answers: wait until the mount point is another file system.
    for (int i = 0; i < 1000 && server_ > 0; ++i, ::usleep(10000)) {
      if (MountedHere()) return mounted_ = true;
      if (::waitpid(server_, nullptr, WNOHANG) == server_) server_ = -1;
    }
    if (output)
      *output = command.toStdString() + (server_ > 0 ? ": not mounted after 10 s" : ": exited");
    if (server_ > 0 && ::kill(server_, SIGTERM) == 0) ::waitpid(server_, nullptr, 0);
    return false;
  }
  bool Unmount() {
    if (mounted_ && ::umount(path().constData()) != 0) return false;
    mounted_ = false;
    // A server writes out what it holds before it exits.
    if (server_ > 0) ::waitpid(server_, nullptr, 0);
    server_ = -1;
    return true;
  }
  bool MountedHere() const {
    struct stat here = {}, parent = {};
    return ::stat(path().constData(), &here) == 0 &&
           ::stat(QFile::encodeName(work_.path()).constData(), &parent) == 0 &&
           here.st_dev != parent.st_dev;
  }

  const FileSystem& fs_;
  QTemporaryDir work_;
  QString source_, device_;
  std::string refused_;
  bool mounted_ = false;
  pid_t server_ = -1;
};

class OnFileSystem : public ::testing::TestWithParam<FileSystem> {};

// The next start ends with old or new content and no file of its own, or refuses and says so.
TEST_P(OnFileSystem, KilledRewriteIsFinishedAfterRemount) {
  Volume volume(GetParam());
  if (!volume.refused().empty()) GTEST_SKIP() << volume.refused();
  RunCrashTable({volume.path(), [&] { return volume.Remount(); }, true});
}

INSTANTIATE_TEST_SUITE_P(Matrix, OnFileSystem, ::testing::ValuesIn(kFileSystems),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace parlotrim::testing
