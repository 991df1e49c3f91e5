#include <gtest/gtest.h>

#include "tools/sim/render/barcode.h"
