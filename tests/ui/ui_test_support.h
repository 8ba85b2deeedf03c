#pragma once

// The window tests' helpers live in tests/support.
#include "support/fake_tray.h"
#include "support/main_window_test.h"
#include "support/ui_test.h"
