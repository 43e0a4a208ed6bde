#include "support/ReadFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using talvern::utilities::readWholeFile;

TEST(ReadWholeFile, ContentMissingFileAndDirectory) {
    const auto dir = std::filesystem::path(testing::TempDir()) / "okavel-readfile";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "f.bin").string();
    const std::string bytes("a\0b\n", 4);
    std::ofstream(file, std::ios::binary) << bytes;

    std::string content = "old";
    std::error_code ec;
    ASSERT_TRUE(readWholeFile(file, content, ec));
    EXPECT_EQ(content, bytes);

    content = "kept";
    EXPECT_FALSE(readWholeFile((dir / "missing").string(), content, ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    EXPECT_EQ(content, "kept");
    EXPECT_FALSE(readWholeFile(dir.string(), content, ec));
    EXPECT_EQ(ec, std::errc::is_a_directory);
    std::filesystem::remove_all(dir);
}
