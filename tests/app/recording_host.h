// Kept for the tests outside tests/app that include it by this name; the
// host lives in tests/fixtures/.
#pragma once

#include "fixtures/recording_host.h"
