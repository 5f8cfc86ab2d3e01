// A German C locale (decimal comma) for the tests that check that numbers
// are printed with a point whatever the locale. The tests' CMakeLists builds
// it into CVQRN_TEST_LOCPATH, so it is there without being installed.
#pragma once

#include <clocale>
#include <cstdlib>

namespace cvqrn::testsupport {

// Makes the German locale the process's: LC_ALL set to it in the C library
// and in the environment (where QApplication takes it from, as from a German
// desktop). False when it could not be set.
inline bool UseGermanLocale() {
    ::setenv("LOCPATH", CVQRN_TEST_LOCPATH, 1);
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

}  // namespace cvqrn::testsupport
