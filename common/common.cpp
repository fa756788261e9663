#include "common/bytes.h"
#include "common/text.h"
// Anchors the header-only common library.
