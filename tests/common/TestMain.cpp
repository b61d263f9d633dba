#include "TestSupport.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    bool handled = false;
    int result = testing_support::runRegisteredChild(argc, argv, handled);
    if (handled) return result;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
