// The output writer's parts (WriteOutputImage itself is a main-dialog member): naming and the
// marker file, placement of the finished file, and the EXIF block and JPEG metadata of an output.
#pragma once

#include "engine/OutputExif.h"
#include "engine/OutputNaming.h"
#include "engine/OutputPlacement.h"
