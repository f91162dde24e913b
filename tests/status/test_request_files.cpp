// Request files in a world-writable folder: created empty with mode 0666,
// never through a planted link, never by truncating someone else's file, and
// never under a cut name.
#include "status_test_support.h"
#include "statusfiles.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantora_status;
using status_test::ReadFile;
using status_test::ScratchDir;
using status_test::WriteFile;

namespace {

mode_t ModeOf(const QString &path)
{
    struct stat info;
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

TEST(RequestFiles, PathsFollowTheDaemonsNames)
{
    EXPECT_EQ(RequestFilePath(RequestKind::Watch, "/tmp", "AB12"), QByteArray("/tmp/RT-50_AB12_UTIL"));
    EXPECT_EQ(RequestFilePath(RequestKind::Refresh, "/tmp", "AB12"), QByteArray("/tmp/RT-50_AB12_TC_UTIL"));
    EXPECT_EQ(StatusFilePath("/tmp", "AB12"), QString("/tmp/RT-50_AB12.log"));
}

TEST(RequestFiles, TooLongPathIsNotMadeUnderACutName)
{
    // "<dir>/RT-50_S_UTIL" is 13 characters after the folder.
    const QByteArray dir = "/" + QByteArray(127 - 13 - 1, 'd');
    EXPECT_EQ(RequestFilePath(RequestKind::Watch, dir, "S").size(), 127);
    EXPECT_TRUE(RequestFilePath(RequestKind::Watch, dir + "d", "S").isEmpty());
    EXPECT_TRUE(RequestFilePath(RequestKind::Refresh, dir, "S").isEmpty());
    EXPECT_FALSE(CreateRequestFile(QByteArray()));
}

TEST(RequestFiles, SerialThatCannotNameAFileNamesNoFile)
{
    // The same serials as the daemon refuses, for the status file as well.
    for (const QByteArray &serial : {QByteArray("../../etc/x"), QByteArray("A/B"), QByteArray(".."),
                                     QByteArray(64, 'S'), QByteArray("A\0B", 3)}) {
        EXPECT_TRUE(RequestFilePath(RequestKind::Watch, "/tmp", serial).isEmpty()) << serial.constData();
        EXPECT_TRUE(StatusFilePath("/tmp", QString::fromLatin1(serial.constData(), serial.size())).isEmpty())
            << serial.constData();
    }
    EXPECT_EQ(StatusFilePath("/tmp", QString(63, QLatin1Char('S'))).size(), 5 + 6 + 63 + 4);
    EXPECT_EQ(SerialFromDeviceUri("vantora-zpxbackend://VANTORA/RT-50?serial=A%2FB&x=1"), QString("A%2FB&x=1"));
    EXPECT_TRUE(SerialFromDeviceUri("vantora-zpxbackend://VANTORA/RT-50?serial=").isEmpty());
}

TEST(RequestFiles, CreatedEmptyWithMode0666)
{
    ScratchDir dir;
    const QString path = dir.file("RT-50_A_UTIL");
    const mode_t old = umask(077);
    EXPECT_TRUE(CreateRequestFile(QFile::encodeName(path)));
    umask(old);
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(ModeOf(path), 0666u);

    // Our own leftover with content is emptied again, as before.
    ASSERT_TRUE(WriteFile(path, "left over"));
    chmod(QFile::encodeName(path).constData(), 0600);
    EXPECT_TRUE(CreateRequestFile(QFile::encodeName(path)));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(ModeOf(path), 0666u);
}

TEST(RequestFiles, PlantedLinkIsNotFollowed)
{
    ScratchDir dir;
    const QString victim = dir.file("victim");
    ASSERT_TRUE(WriteFile(victim, "precious"));
    chmod(QFile::encodeName(victim).constData(), 0600);
    const QString path = dir.file("RT-50_A_TC_UTIL");
    ASSERT_EQ(symlink(QFile::encodeName(victim).constData(), QFile::encodeName(path).constData()), 0);

    EXPECT_FALSE(CreateRequestFile(QFile::encodeName(path)));
    EXPECT_EQ(ReadFile(victim), QByteArray("precious"));
    EXPECT_EQ(ModeOf(victim), 0600u);
    EXPECT_TRUE(QFileInfo(path).isSymLink());

    // A dangling link does not create its target either.
    const QString dangling = dir.file("RT-50_B_UTIL");
    ASSERT_EQ(symlink(QFile::encodeName(dir.file("made")).constData(), QFile::encodeName(dangling).constData()), 0);
    EXPECT_FALSE(CreateRequestFile(QFile::encodeName(dangling)));
    EXPECT_FALSE(QFileInfo::exists(dir.file("made")));
}

TEST(RequestFiles, SomeoneElsesFileIsLeftAlone)
{
    ScratchDir dir;
    const QString path = dir.file("RT-50_A_UTIL");
    ASSERT_TRUE(WriteFile(path, "not ours"));
    chmod(QFile::encodeName(path).constData(), 0644);
    const uid_t other = geteuid() == 65534 ? 65533 : 65534;
    if (chown(QFile::encodeName(path).constData(), other, static_cast<gid_t>(-1)) != 0)
        GTEST_SKIP() << "cannot give the file to another user";
    EXPECT_TRUE(CreateRequestFile(QFile::encodeName(path)));  // it exists, so the request stands
    EXPECT_EQ(ReadFile(path), QByteArray("not ours"));
    EXPECT_EQ(ModeOf(path), 0644u);
}

TEST(RequestFiles, FifoDoesNotBlockAndIsNoRequest)
{
    ScratchDir dir;
    const QString path = dir.file("RT-50_A_UTIL");
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_FALSE(CreateRequestFile(QFile::encodeName(path)));
    EXPECT_EQ(ModeOf(path), 0600u);
}

}  // namespace
