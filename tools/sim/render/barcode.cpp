#include "tools/sim/render/barcode.h"
