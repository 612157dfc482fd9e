#include "WorkbookAlongside.h"

#include <exception>

namespace pendra::schedule {

OpenedWorkbook OpenWorkbookAlongside(const std::string& path, const std::function<void()>& meanwhile) {
  std::future<void> work = std::async(std::launch::async, meanwhile);
  OpenedWorkbook opened;
  std::exception_ptr failure;
  try {
    opened.application = excel::CreateObject();
    opened.workbook = opened.application->Workbooks().Add();
    opened.workbook = excel::GetObject(path);
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    work.get();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
  return opened;
}

std::future<void> QuitAlongside(OpenedWorkbook opened) {
  return std::async(std::launch::async, [opened = std::move(opened)]() mutable {
    opened.application->Quit();
    opened = {};
  });
}

}  // namespace pendra::schedule
