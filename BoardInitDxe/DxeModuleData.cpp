#include "DxeModuleData.h"

// No initialiser: zero-filled storage, so the image needs no start-up code to prepare it.
DxeModuleData gDxeModuleData;
