// Runs the tests on Qt's offscreen platform: no display, no window manager, no desktop state.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The icon theme and settings of whoever runs the tests stay out of them.
    qputenv("XDG_DATA_DIRS", "/nonexistent");
    qputenv("XDG_DATA_HOME", "/nonexistent");
    qputenv("XDG_CONFIG_HOME", "/nonexistent");
    qunsetenv("GTK_THEME");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
