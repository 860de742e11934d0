// Unnamed memory mappings backed by the system's swap, in place of the desktop platform's
// paging-file sections: an anonymous shared-memory object that views are mapped from.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

// The "no file" handle: a mapping created with it lives in memory backed by swap.
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// A new unnamed mapping object of (sizeHigh << 32 | sizeLow) bytes, zero-filled, or null.
// Only memory-backed mappings exist here: `file` must be INVALID_HANDLE_VALUE, `name` null,
// the protection PAGE_READWRITE or PAGE_READONLY and the size at least 1.
HANDLE CreateFileMappingA(HANDLE file, void* attributes, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                          const char* name);
// Maps bytes of the object from the given offset (bytes 0: to its end); null on failure,
// also for a handle that is not a live mapping object.
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, uint64_t bytes);
// Unmaps a view returned by MapViewOfFile; FALSE for anything else.
BOOL UnmapViewOfFile(LPCVOID view);
// Closes a mapping object; its views stay usable until unmapped. FALSE for a handle that is
// not a live mapping object.
BOOL CloseMappingHandle(HANDLE mapping);
