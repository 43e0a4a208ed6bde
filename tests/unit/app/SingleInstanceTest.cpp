#include <gtest/gtest.h>

#include <QDir>
#include <QString>

#include <string>
#include <vector>

#include "app/SdpSingleApplicationImpl.h"
#include "app/single/QtLockedFile.h"
#include "app/single/QtSingleCoreApplication.h"
#include "support/Args.h"
#include "support/TempDir.h"

using talvern::SdpSingleApplicationImpl;
using talvern::test::Args;
using talvern::test::ScopedEnv;
using talvern::test::TempDir;

namespace {

std::string lockName(std::vector<std::string> words) {
    Args args(std::move(words));
    return SdpSingleApplicationImpl::getLockedfileName(args.argc(), args.argv(), QtLockedFile::MachineScope);
}

}  // namespace

TEST(LockFileName, MasterAndStopCommandsAgree) {
    TempDir shared;
    ScopedEnv env("OKAVEL_SHARED_DATA_DIR", shared.str());
    std::string master = lockName({"/opt/x/oKavelAgent", "--plugin", "plugins/x", "-h"});
    EXPECT_EQ(master.rfind(shared.str() + "/sapp-oKavelAgent_plugins_x_h-", 0), 0u) << master;
    EXPECT_EQ(master.substr(master.size() - 9), "-lockfile");
    EXPECT_EQ(lockName({"oKavelAgent", "--plugin", "plugins/x", "-h", "--plugin-stop-sync"}), master);
    EXPECT_EQ(lockName({"oKavelAgent", "-d", "--plugin", "plugins/x", "--enable-http", "-k"}), master);
    EXPECT_NE(lockName({"oKavelAgent", "--plugin", "plugins/x", "-h", "-e"}), master);
    EXPECT_NE(lockName({"oKavelAgent", "--plugin", "plugins/y", "-h"}), master);
}

TEST(LockedFile, HolderIsSeenByOthersUntilItUnlocks) {
    TempDir dir;
    std::string path = (dir / "guard-lockfile").string();
    EXPECT_FALSE(SdpSingleApplicationImpl::isLockedByOther(path, QtLockedFile::MachineScope));  // no file yet

    QtLockedFile holder(QString::fromStdString(path));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    ASSERT_TRUE(holder.lock(QtLockedFile::WriteLock, false));
    EXPECT_TRUE(holder.isLocked());
    EXPECT_TRUE(SdpSingleApplicationImpl::isLockedByOther(path, QtLockedFile::MachineScope));

    QtLockedFile second(QString::fromStdString(path));
    ASSERT_TRUE(second.open(QIODevice::ReadWrite));
    EXPECT_FALSE(second.lock(QtLockedFile::WriteLock, false));
    EXPECT_FALSE(second.lock(QtLockedFile::ReadLock, false));

    ASSERT_TRUE(holder.unlock());
    EXPECT_FALSE(SdpSingleApplicationImpl::isLockedByOther(path, QtLockedFile::MachineScope));
    EXPECT_TRUE(second.lock(QtLockedFile::ReadLock, false));
}
