// The manual-reset event that stop events and waits use. It is defined in base (see there
// why); this header keeps the synchronisation layer's own include for it.
#pragma once

#include "platform/base/event.h"
