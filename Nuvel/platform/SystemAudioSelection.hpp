#pragma once

// The selection lives with the capture core, where the model, the sheet and the capture
// sources all see the one type.
#include "NuvelKit/capture/SystemAudioSelection.hpp"
