// Internal helpers of the results code shared inside libixo.
#ifndef SAPIOLUX_IXO_IXORESULTS_H
#define SAPIOLUX_IXO_IXORESULTS_H

#include <cstdint>

#include "ixo_results.h"

namespace ixo {

// Reads a decimal integer the way atoi does (leading blanks and tabs, an optional
// sign, digits) but saturates at the int32 range instead of overflowing, and never
// reads past the terminator. Anything else gives 0.
int32_t parseInt32(const char* text);

}  // namespace ixo

#endif
