#include "os.h"

#include <cstdio>
#include <cstdlib>

namespace {
Os* g_pOs = nullptr;
}

Os& os()
{
    if (!g_pOs) {
        // A call before the entry point installed an Os is a programming error, not a state
        // to recover from; in a test it would otherwise reach the real system silently.
        std::fputs("platform: no Os installed\n", stderr);
        std::abort();
    }
    return *g_pOs;
}

Os* SetOs(Os* replacement)
{
    Os* previous = g_pOs;
    g_pOs = replacement;
    return previous;
}
