// Test support is header-only; this file gives the library a translation unit.
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/RecordingLog.h"
