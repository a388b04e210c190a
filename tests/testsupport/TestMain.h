#pragma once

#include "TestSandbox.h"

#include <QTest>

// Test mains: the sandbox is set up before any Qt object exists, and widget
// tests run on the offscreen platform whatever the machine has.
#define LUMISORT_TEST_MAIN(Application, TestObject, ...)                                                               \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        TestSandbox::setUpProcess();                                                                                   \
        __VA_ARGS__;                                                                                                   \
        Application app(argc, argv);                                                                                   \
        TestObject tc;                                                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
#define LUMISORT_CORE_TEST_MAIN(TestObject) LUMISORT_TEST_MAIN(QCoreApplication, TestObject, )
#define LUMISORT_GUI_TEST_MAIN(TestObject)                                                                             \
    LUMISORT_TEST_MAIN(QApplication, TestObject, qputenv("QT_QPA_PLATFORM", "offscreen"))
