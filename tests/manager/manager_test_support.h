#pragma once

// The manager tests' helpers live in tests/support.
#include "support/crash_scene.h"
#include "support/manager_test.h"
#include "support/scripted_prompt.h"
