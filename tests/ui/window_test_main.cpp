// The entry of the test programs that show the real window: the shared set-up
// before their QApplication, then every test.
#include <gtest/gtest.h>

#include <QApplication>

#include "tests/ui/window_program.h"

int main(int argc, char** argv) {
    const cvqrn::ui::test::WindowProgramSetup setup;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
