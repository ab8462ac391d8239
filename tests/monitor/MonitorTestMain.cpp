// GoogleTest main with the program's own application object (the standard error box).
#include "Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    zeva::TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
