// Exiv2 for the tests that read back what the program wrote. Exiv2 0.27
// still hands out std::auto_ptr, so its deprecation warnings are off in
// such a test.
#pragma once

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
#include <exiv2/exiv2.hpp>
