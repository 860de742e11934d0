// The metadata blocks a read meets (colour profile, IPTC record, XMP packets), kept in the
// thread's record for ISGetReadMetadata, and the checks a colour profile must pass to be kept.
#pragma once

#include <cstdint>

#include "imaging/core/ISThreadState.h"

// Forgets what the last read met; every reader that keeps metadata calls it first.
void ClearMetadataRead();
// Keeps a copy of a block of `kind` (IS_META_*) met by the read in progress, in place of an
// earlier one; a block that cannot be copied is not kept.
void KeepMetadataRead(DWORD kind, const uint8_t* data, uint64_t size);
// Records why a block of `kind` that the read met was left out (the first reason is kept).
void NoteMetadataLeftOut(DWORD kind, const char* why);
// Keeps a colour profile when its header holds together: its stored length is its size and it
// has the "acsp" signature; otherwise notes why it was left out. `where` names its place in the
// file ("PNG iCCP chunk").
void KeepICCProfileRead(const uint8_t* data, uint64_t size, const char* where);
// Keeps the IPTC record (resource 0x0404) or the colour profile (resource 1039) of a Photoshop
// image-resources block ("8BIM" records), when it holds them and they are asked for.
void KeepPhotoshopResourcesRead(const uint8_t* block, uint32_t size, bool iptc, bool profile);
