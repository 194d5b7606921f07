// Resources of the running executable. Only RT_RCDATA with numeric ids exist;
// each is stored once, in Japanese, and found whatever language is asked for.
#include "winsim/resources.h"

#include <cstdio>
#include <map>

#include "payload/payload_ids.h"
#include "winsim/internal.h"
#include "winsim/machine.h"

#ifndef PAYLOAD_DIR
#error "PAYLOAD_DIR names the folder of the payload files"
#endif

namespace winsim {
namespace {

struct PayloadFile {
  WORD id;
  const char* path;  // below PAYLOAD_DIR
};

#define PAYLOAD_ROW(name) {PAYLOAD_ID_##name, PAYLOAD_FILE_##name}

// The ids and files that payload/updater.rc embeds.
const PayloadFile PAYLOAD_FILES[] = {
    PAYLOAD_ROW(CLASS0_MARKER), PAYLOAD_ROW(CLASS0_DRVCLASS), PAYLOAD_ROW(CLASS0_DRVCLASS64),
    PAYLOAD_ROW(CLASS0_SUPVER), PAYLOAD_ROW(CLASS1_MARKER),   PAYLOAD_ROW(CLASS1_DRVCLASS),
    PAYLOAD_ROW(CLASS1_DRVCLASS64), PAYLOAD_ROW(CLASS1_SUPVER),
};

#undef PAYLOAD_ROW

// Resource handles carry the id above this base, so a made-up handle is recognised.
const ULONG_PTR RESOURCE_HANDLE_BASE = 0x52000000;

std::string ReadWhole(const std::string& path) {
  std::string bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "winsim: payload file %s cannot be read\n", path.c_str());
    return bytes;
  }
  char block[4096];
  std::size_t count = 0;
  while ((count = std::fread(block, 1, sizeof block, file)) != 0) bytes.append(block, count);
  std::fclose(file);
  return bytes;
}

// Read from disk once per test program; every reset starts from this copy.
const std::map<WORD, std::string>& PayloadResources() {
  static const std::map<WORD, std::string> payload = [] {
    std::map<WORD, std::string> loaded;
    for (const PayloadFile& file : PAYLOAD_FILES) {
      loaded[file.id] = ReadWhole(std::string(PAYLOAD_DIR) + "/" + file.path);
    }
    return loaded;
  }();
  return payload;
}

std::map<WORD, std::string>& Resources() {
  static std::map<WORD, std::string> resources;
  return resources;
}

void ResetResources() { Resources() = PayloadResources(); }
ResetHook resetResources(&ResetResources);

const std::string* Lookup(HRSRC resource) {
  const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(resource);
  if (value < RESOURCE_HANDLE_BASE || value > RESOURCE_HANDLE_BASE + 0xFFFF) return nullptr;
  auto it = Resources().find(static_cast<WORD>(value - RESOURCE_HANDLE_BASE));
  return it == Resources().end() ? nullptr : &it->second;
}

}  // namespace

void RemoveResource(int id) { Resources().erase(static_cast<WORD>(id)); }

void SetResource(int id, const std::string& bytes) { Resources()[static_cast<WORD>(id)] = bytes; }

}  // namespace winsim

HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  using namespace winsim;
  if (Faulted("FindResourceW")) return nullptr;
  if (module != nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  if (type != RT_RCDATA) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  const WORD id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  if (!IS_INTRESOURCE(name) || Resources().count(id) == 0) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(RESOURCE_HANDLE_BASE + id);
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
  using namespace winsim;
  if (Faulted("SizeofResource")) return 0;
  const std::string* bytes = module == nullptr ? Lookup(resource) : nullptr;
  if (bytes == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return static_cast<DWORD>(bytes->size());
}

// The loaded resource is the stored bytes themselves; they stay put until the
// resource is replaced or removed by the test.
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
  using namespace winsim;
  if (Faulted("LoadResource")) return nullptr;
  const std::string* bytes = module == nullptr ? Lookup(resource) : nullptr;
  if (bytes == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return const_cast<char*>(bytes->data());
}

LPVOID WINAPI LockResource(HGLOBAL data) {
  if (winsim::Faulted("LockResource")) return nullptr;
  return data;
}
