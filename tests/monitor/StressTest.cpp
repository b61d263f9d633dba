#include "MonitorHarness.h"

#include <gtest/gtest.h>
