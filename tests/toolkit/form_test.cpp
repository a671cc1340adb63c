// filled in below
#include <gtest/gtest.h>
