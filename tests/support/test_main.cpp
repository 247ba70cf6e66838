#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/test_support.h"

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--probe") == 0) return kxtest::RunProbeMain(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
