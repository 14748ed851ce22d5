#include <gtest/gtest.h>

#include "platform/windows/com.h"

// The program runs its services on an apartment thread; so do the tests.
int main(int argc, char** argv) {
    const clearstrand::win32::ComInit com;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
