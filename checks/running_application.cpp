// The application must not be running while its files are replaced.
#include <memory>
#include <new>

#include "app/updater.h"
#include "checks/process_finder.h"
#include "messages/catalogues.h"

namespace {

constexpr char APPLICATION_EXECUTABLE[] = "CVMaker.exe";
constexpr int APPLICATION_NOT_RUNNING = 0;
constexpr int APPLICATION_RUNNING = -1;

}  // namespace

// A finder that cannot be made is a process list that cannot be read: as
// then, the application counts as not running.
int Updater::CheckAppNotRunning() const {
  std::unique_ptr<ProcessFinder> finder(new (std::nothrow) ProcessFinder);
  if (!finder) return APPLICATION_NOT_RUNNING;
  finder->SetName(APPLICATION_EXECUTABLE);
  const bool running = finder->IsRunning();
  finder.reset();
  Note("%s %s", APPLICATION_EXECUTABLE, running ? "is running" : "is not running");
  if (!running) return APPLICATION_NOT_RUNNING;
  ReportMessage(MSG_APP_RUNNING);
  return APPLICATION_RUNNING;
}
