// Runs every test of one executable and prints gtest's summary; the exit code
// tells ctest whether all passed.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
