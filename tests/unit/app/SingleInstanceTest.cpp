#include <gtest/gtest.h>

#include <QDir>
#include <QString>

#include <string>

#include "app/SdpSingleApplicationImpl.h"
#include "app/single/QtLockedFile.h"
#include "app/single/QtSingleCoreApplication.h"
#include "support/Args.h"
#include "support/TempDir.h"

using talvern::SdpSingleApplicationImpl;
using talvern::test::Args;
using talvern::test::ScopedEnv;
using talvern::test::TempDir;

namespace {}  // namespace

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
