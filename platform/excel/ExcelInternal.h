// The state behind the automation objects of Excel.h, shared by the layer's
// sources and by the template builder (which needs the UNO document).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>

#include "CellBlocks.h"
#include "CellKinds.h"
#include "OfficeProcess.h"
#include "excel/Excel.h"

namespace pendra::excel {

struct Application::Impl {
  std::unique_ptr<OfficeProcess> office;
  bool quit = false;
  // Every workbook opened in this instance stays open (and reachable by
  // Run) until the instance ends, referenced or not.
  std::vector<std::unique_ptr<DocumentState>> documents;

  // Raises 440 once the instance was quit or died.
  void EnsureAlive();
  // Handles to the open workbooks: each keeps the application alive.
  std::vector<std::shared_ptr<DocumentState>> OpenDocuments(const std::shared_ptr<excel::Application>& self);
  std::shared_ptr<DocumentState> Load(const std::shared_ptr<excel::Application>& self,
                                      const rtl::OUString& url, const std::string& name);
};

struct SheetData {
  std::string name;
  CellBlocks cells;
};

// Owned by its application; every handle to it is a shared_ptr that shares
// ownership of the application (aliasing), so a workbook, sheet or window
// keeps its instance alive, and the instance ends with the last of them.
struct DocumentState {
  excel::Application* application = nullptr;
  css::uno::Reference<css::sheet::XSpreadsheetDocument> document;
  std::string windowName;           // the file name, as Excel names the window
  rtl::OUString filter;             // the format it was loaded in ("" for a new one)
  std::map<std::string, std::unique_ptr<SheetData>> sheets;
  std::map<sal_Int32, sal_Int16> formatTypes;  // number format key -> NumberFormat type
  std::map<sal_Int16, sal_Int32> standardFormats;  // NumberFormat type -> key

  Application::Impl& App() { return *application->impl_; }
  // A live document: raises 440 when the instance is gone.
  void EnsureAlive() { App().EnsureAlive(); }
  // Sends the buffered writes of every sheet (before anything observes it).
  void FlushAll();
  // Forgets what was read from every sheet (after a macro ran).
  void ForgetReads();
  SheetData& Sheet(const std::string& name);
  sal_Int16 FormatType(sal_Int32 key);
  sal_Int32 StandardFormat(sal_Int16 type);
  // How the document stores Booleans and from which base date it counts.
  DocumentKinds Kinds();
};

// The NumberFormat type of a number format key of the document.
sal_Int16 NumberFormatType(const css::uno::Reference<css::sheet::XSpreadsheetDocument>& document, sal_Int32 key);

struct SheetState {
  std::shared_ptr<DocumentState> document;
  SheetData* data;
};

// For the template builder: the state and UNO document behind a workbook.
struct WorkbookAccess {
  static DocumentState& State(Workbook& workbook) { return *workbook.document_; }
};

}  // namespace pendra::excel
