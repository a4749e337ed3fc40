#include <gtest/gtest.h>

#include "script/engine.h"
