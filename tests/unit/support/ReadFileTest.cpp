#include "support/ReadFile.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "support/TestFiles.h"

using talvern::utilities::readWholeFile;

TEST(ReadWholeFile, ContentMissingFileAndDirectory) {
    talvern::test::TempDir dir;
    const std::string bytes("a\0b\n", 4);
    talvern::test::writeFile(dir / "f.bin", bytes);

    std::string content = "old";
    std::error_code ec;
    ASSERT_TRUE(readWholeFile((dir / "f.bin").string(), content, ec));
    EXPECT_EQ(content, bytes);

    content = "kept";
    EXPECT_FALSE(readWholeFile((dir / "missing").string(), content, ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    EXPECT_EQ(content, "kept");
    EXPECT_FALSE(readWholeFile(dir.str(), content, ec));
    EXPECT_EQ(ec, std::errc::is_a_directory);
}
