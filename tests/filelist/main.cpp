#include "support/test_main.h"

BRISKLUME_TEST_MAIN()
