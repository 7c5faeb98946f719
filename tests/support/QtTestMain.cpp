// Runs GoogleTest inside a QApplication, so widget tests can build windows offscreen.
#include "TestMain.h"

#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    testing_support::prepareTestEnvironment();
    QApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
