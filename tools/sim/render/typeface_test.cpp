#include <gtest/gtest.h>

#include "tools/sim/render/typeface.h"
