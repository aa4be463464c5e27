// Kept for the tests outside tests/app that include it by this name; the
// fixtures live in tests/fixtures/.
#pragma once

#include "fixtures/installation.h"
