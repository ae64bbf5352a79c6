#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

// Every test executable runs widgets on the offscreen platform with a pinned locale, so
// that results depend neither on a display nor on the machine's regional settings.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
