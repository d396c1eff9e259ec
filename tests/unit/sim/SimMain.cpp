// The entry point of every unit-test program.
//
// An Os must be in force whenever framework code runs, and some runs outside any test: the
// static construction and destruction of the program's objects (the application object's
// strings are freed at exit). A quiet SimOs, made before any other static object and never
// destroyed, serves as that background; each test installs its own over it (SimTest).
#include "sim/SimOs.h"

namespace {

struct BackgroundOs {
    BackgroundOs() { SetOs(new SimOs); }
};

BackgroundOs g_backgroundOs __attribute__((init_priority(101)));

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
