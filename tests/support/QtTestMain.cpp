// GoogleTest main with the Qt application object that event loops and widgets need.
#include <gtest/gtest.h>

#ifdef ZEVA_TEST_GUI
#include <QApplication>
using TestApp = QApplication;
#else
#include <QCoreApplication>
using TestApp = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Tests draw off screen unless told otherwise, also when CTest lists them at build time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApp app(argc, argv);
    return RUN_ALL_TESTS();
}
