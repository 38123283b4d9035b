// Track table and download against the simulator.

#include <gtest/gtest.h>
