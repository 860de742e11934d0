// Mapping objects are memfd files; views are shared mmaps of them. Live handles and views
// are kept in registries, so a stale or foreign pointer is refused rather than followed.
#include "platform/file_mapping.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <new>
#include <set>

namespace {

struct MappingObject {
  int fd;
  uint64_t size;
  DWORD protect;
};

std::mutex g_lock;
std::set<MappingObject*>& LiveMappings() {
  static std::set<MappingObject*> live;
  return live;
}
std::map<const void*, uint64_t>& LiveViews() {
  static std::map<const void*, uint64_t> views;
  return views;
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE file, void* /*attributes*/, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                          const char* name) {
  if (file != INVALID_HANDLE_VALUE || name != nullptr) return nullptr;
  if (protect != PAGE_READWRITE && protect != PAGE_READONLY) return nullptr;
  uint64_t size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  if (size == 0 || size > static_cast<uint64_t>(INT64_MAX)) return nullptr;
  int fd = memfd_create("qrv-mapping", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    return nullptr;
  }
  auto* object = new (std::nothrow) MappingObject{fd, size, protect};
  if (!object) {
    close(fd);
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(g_lock);
  LiveMappings().insert(object);
  return object;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, uint64_t bytes) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto* object = static_cast<MappingObject*>(mapping);
  if (!object || !LiveMappings().count(object)) return nullptr;
  uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
  if (offset >= object->size || offset % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) != 0) return nullptr;
  if (bytes == 0) bytes = object->size - offset;
  if (bytes > object->size - offset) return nullptr;
  bool write = (access & FILE_MAP_WRITE) != 0;
  if (write && object->protect != PAGE_READWRITE) return nullptr;
  int prot = PROT_READ | (write ? PROT_WRITE : 0);
  void* view = mmap(nullptr, static_cast<size_t>(bytes), prot, MAP_SHARED, object->fd, static_cast<off_t>(offset));
  if (view == MAP_FAILED) return nullptr;
  LiveViews()[view] = bytes;
  return view;
}

BOOL UnmapViewOfFile(LPCVOID view) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto it = LiveViews().find(view);
  if (it == LiveViews().end()) return FALSE;
  munmap(const_cast<void*>(view), static_cast<size_t>(it->second));
  LiveViews().erase(it);
  return TRUE;
}

BOOL CloseMappingHandle(HANDLE mapping) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto* object = static_cast<MappingObject*>(mapping);
  if (!object || !LiveMappings().erase(object)) return FALSE;
  close(object->fd);
  delete object;
  return TRUE;
}
