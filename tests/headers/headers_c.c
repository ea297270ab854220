/* The public headers as a C program sees them: each family compiles as C, through its
 * one header, and the version macros are there. */
#include "imex.h"
#include "ixo.h"
#include "xmltree.h"

#if !defined(SAPIOLUX_VERSION_MAJOR) || !defined(SAPIOLUX_VERSION_NUMBER)
#error "the public headers carry no version"
#endif

/* One call of each family, so that the declarations must be complete. */
int headersCompileAsC(void) {
    IXO ixo;
    IxoQueryResult result;
    (void)result;
    return ixoCreateIxo(&ixo, "h", 0, 1, 2) == IXO_OK && ixoGetError(-5) != 0 &&
           SAPIOLUX_VERSION_NUMBER >= SAPIOLUX_MAKE_VERSION(0, 2, 0);
}
