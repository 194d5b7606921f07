#include "deploy/boot_record.h"

#include <memory>
#include <new>

#include "registry/registry_key.h"

const char RESTART_OWED_VALUE[] = "Restart owed";

namespace {

// The text of a service's value; a value there stands for the service.
constexpr char ASKED_TO_STOP[] = "asked to stop";

bool OpenKey(std::unique_ptr<RegistryKey>* key) {
  key->reset(new (std::nothrow) RegistryKey);
  return *key && (*key)->SetRoot(HKEY_LOCAL_MACHINE) == 0 && (*key)->SetPath(BOOT_RECORD_KEY) == 0;
}

bool HasValue(const RegistryKey& key, const char* valueName) {
  int error = 0;
  const std::unique_ptr<char[]> text(key.GetString(valueName, &error));
  return text != nullptr;
}

}  // namespace

BootRecord::BootRecord() : loaded(false), loadResult(0), keyExists(false), restartOwed(false), services() {}

// A key of the record's name that is not volatile was not made by this start
// of Windows: a restart owed in it would be asked for at every start.
int BootRecord::Load() {
  if (loaded) return loadResult;
  loaded = true;
  std::unique_ptr<RegistryKey> key;
  if (!OpenKey(&key)) return loadResult = ERR_OUT_OF_MEMORY;
  int error = 0;
  keyExists = key->IsVolatile(&error) || error != ERROR_FILE_NOT_FOUND;
  if (keyExists && error != 0) return loadResult = error;
  if (!keyExists) return 0;
  restartOwed = HasValue(*key, RESTART_OWED_VALUE);
  for (int service = 0; service < APPLICATION_SERVICE_COUNT; ++service) {
    services[service] = HasValue(*key, APPLICATION_SERVICES[service].name) ? 1 : 0;
  }
  return 0;
}

bool BootRecord::Loaded() const { return loaded; }

bool BootRecord::RestartOwed() { return Load() == 0 && restartOwed; }

bool BootRecord::ServiceAskedToStop(int service) {
  Load();
  return services[service] != 0;
}

int BootRecord::MarkRestartOwed(const char* installDir) {
  const int written = Write(RESTART_OWED_VALUE, installDir);
  if (written == 0) restartOwed = true;
  return written;
}

// The run itself knows what it asked, also where later runs cannot learn it.
int BootRecord::MarkService(int service, bool askedToStop) {
  services[service] = askedToStop ? 1 : 0;
  return Write(APPLICATION_SERVICES[service].name, askedToStop ? ASKED_TO_STOP : nullptr);
}

// Made volatile when this start of Windows has none yet; a value that goes
// from a key that is not there is gone already.
int BootRecord::Write(const char* valueName, const char* text) {
  const int loadedResult = Load();
  if (loadedResult != 0) return loadedResult;
  std::unique_ptr<RegistryKey> key;
  if (!OpenKey(&key)) return ERR_OUT_OF_MEMORY;
  if (text == nullptr) return keyExists ? key->DeleteValue(valueName) : 0;
  if (!keyExists) {
    const int created = key->CreateVolatile();
    if (created != 0) return created;
    keyExists = true;
  }
  return key->SetString(valueName, text);
}
