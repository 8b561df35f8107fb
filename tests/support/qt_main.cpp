// GoogleTest main for tests that need a Qt application object.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orvo");
    QCoreApplication::setApplicationName("Orvo KeepframeEngine");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
