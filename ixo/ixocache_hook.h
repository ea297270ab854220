// The seam between the client handle and the client result cache: ixoDestroyIxo calls
// this hook when the handle holds a cache, and the cache code provides it.
#pragma once

#include "ixo_api.h"

extern "C" {

// Destroys the handle's client cache and its lock, releasing every slot, and sets
// both handle fields to null. Called only when ixo->clientCache is not null.
void ixoCacheDestroyForHandle(IXO* ixo);
}
