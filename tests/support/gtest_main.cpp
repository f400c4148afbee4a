#include <QGuiApplication>

#include <gtest/gtest.h>

// Every core test runs inside an application object, as the programs do; the
// platform is the offscreen one so that no display is needed.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
