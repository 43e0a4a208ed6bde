#include "support/ReadFile.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "support/TestFiles.h"

using talvern::utilities::readWholeFile;
