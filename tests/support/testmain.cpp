// Entry point of every test binary: an offscreen QApplication, then GoogleTest. The platform
// is chosen here, not through CTest's environment, because gtest_discover_tests runs the
// binary at build time.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
