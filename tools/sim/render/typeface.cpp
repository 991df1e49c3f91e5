#include "tools/sim/render/typeface.h"
