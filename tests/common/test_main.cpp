#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test program runs with widgets on the offscreen platform and a fixed locale whose
// numbers group with "," and whose dates read dd/MM/yyyy.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
