// The simulated machine as a whole: arrange it, run product code, then assert
// on what it holds. Every part of the machine (files.h, registry.h, system.h,
// user.h, ...) is put back to a fresh Windows by ResetMachine().
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "winsim/api.h"

namespace winsim {

// --- The machine as a whole ---------------------------------------------------

// Puts every part back to its fresh state: a 32-bit-capable NT 5.1 box with an
// English user, nothing installed, nothing failing.
void ResetMachine();

// A part of the machine registers how it is put back to its fresh state. The
// system core (exports, loadable modules, handles, calls) is reset before the
// parts that register into it, whatever the link order.
enum class ResetOrder { Core, Part };
class ResetHook {
 public:
  explicit ResetHook(void (*reset)(), ResetOrder order = ResetOrder::Part);
};

// Windows starts again, as after a restart or a power cut: every process ends
// (EndProcess), then each part does what a start of Windows does to it (the
// clock, volatile registry keys, services, files held open elsewhere). A
// killed process alone (EndProcess) changes none of those.
void StartWindowsAgain();
// A part of the machine registers what a start of Windows does to it.
class RestartHook {
 public:
  explicit RestartHook(void (*restart)());
};

// --- Calls and faults -----------------------------------------------------------

// Makes the nth call (1-based, counted from the last reset) of a function fail with error.
void FailCall(const char* function, unsigned nth, DWORD error);
// Makes every call of a function from the nth on fail with error.
void FailCallsFrom(const char* function, unsigned nth, DWORD error);
unsigned CallCount(const char* function);
// Names of every simulated call in order since the last reset.
const std::vector<std::string>& CallLog();

// Allocations made by the product (operator new (std::nothrow) and LocalAlloc) are
// counted together; the nth one can be made to fail.
void FailAllocation(unsigned nth);
unsigned AllocationCount();
// How many calls the log held when the nth allocation was made.
std::size_t AllocationLogPosition(unsigned nth);
std::size_t LiveLocalAllocations();

// --- The process ending -----------------------------------------------------------

// The process ends right before its nth simulated call (1-based, every function
// counted together from the last reset), as when power is lost or it is killed:
// end() is called in place of that call and must not return to it. Once only.
void EndProcessBeforeCall(std::size_t nth, void (*end)());
// What Windows reclaims from an ended process: its handles (closed as by
// CloseHandle, so a named mutex goes away) and its LocalAlloc blocks.
void EndProcess();
void CloseEveryHandle();
void FreeLocalAllocations();

// --- Handles ----------------------------------------------------------------------

enum class HandleKind { Mutex, File, Process, Token, RegistryKey, ServiceManager, Service, Library, Count };

// Handles carry the kind and the index of the object they refer to in their part.
HANDLE OpenHandle(HandleKind kind, std::size_t object);
bool FindHandle(const void* handle, HandleKind kind, std::size_t* object);
bool IsHandleOfKind(const void* handle, HandleKind kind);
// Closes a handle of that kind; false when it is no open handle of that kind.
bool CloseHandleOf(const void* handle, HandleKind kind);
// Called with the object index when a handle of that kind is closed.
void SetCloseHook(HandleKind kind, void (*onClose)(std::size_t object));
std::size_t OpenHandleCount(HandleKind kind);
std::size_t OpenHandleCount();

// --- Run-time linking -------------------------------------------------------------

// Exports by module base name ("kernel32.dll"); GetProcAddress finds only these.
void RegisterExport(const char* module, const char* function, FARPROC address);
template <typename Function>
void RegisterExport(const char* module, const char* name, Function* function) {
  RegisterExport(module, name, reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function)));
}
void RemoveExport(const char* module, const char* function);
// LoadLibraryA accepts only full paths into the system folder for these modules.
void RegisterLoadableModule(const char* module);
std::vector<std::string> LoadLibraryLog();
DWORD DllSearchFlags();

}  // namespace winsim
