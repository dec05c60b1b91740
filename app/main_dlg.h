// CMainDlg: the program's one dialog. It carries the run state of one run
// and, while it is being initialised, runs the whole job: parse the command
// line, open the trace log, read the setup information file, clean the
// registry. Then the window appears.
#ifndef BRINDLEX_APP_MAIN_DLG_H_
#define BRINDLEX_APP_MAIN_DLG_H_

#include <memory>

#include "app/services.h"
#include "framework/cstring.h"
#include "framework/dialog.h"
#include "framework/string_list.h"
#include "log/log_file.h"
#include "registry/registry.h"
#include "resources/resource.h"

class CMainDlg : public CDialog {
 public:
  explicit CMainDlg(const Services& services, CWnd* parent = nullptr);
  ~CMainDlg() override;

  enum { IDD = IDD_MAIN_DIALOG };

  // Run state, in this order.
  char* m_pCmdLine = nullptr;  // argument text, not owned; split in place by ParseCmdLine
  CString m_InfFileName;
  CString m_LogFileName;
  BOOL m_SilentMode = TRUE;  // the window closes at its first activation
  BOOL m_LogMode = FALSE;    // trace messages go to the log file
  IconHandle m_hIcon = nullptr;
  std::unique_ptr<CLogFile> m_pLogFile;
  std::unique_ptr<CStringList> m_pStringList;  // product key, then the patch keys

  // Parses m_pCmdLine into the run settings; appends its trace to `startup`.
  // Returns 1 when the command line was accepted, 0 on any error.
  int ParseCmdLine(CStringList* startup);

  // Formats one trace message and appends it to the log when m_LogMode is
  // TRUE. A message longer than 1023 bytes is cut (see FormatTraceMessage).
  void WriteLog(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // Reads the product key and the patch keys of the setup information file
  // m_InfFileName into m_pStringList. Returns 1 when the file exists and
  // names a product key, else 0.
  int ReadINF();

  // Deletes the product's Patches key, then each patch's key tree. Returns 1
  // when the product's Patches key was deleted, else 0.
  int DelFromReg();

  // Deletes `path` below `parent` with all its subkeys, depth-first.
  // Returns 0 when the whole tree is gone, else a registry status code.
  RegStatus DelRegKeyRcu(RegKey parent, const char* path);

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;

  void OnSysCommand(UINT id, long param) override;
  void OnPaint() override;
  IconHandle OnQueryDragIcon() override;
  void OnActivate(UINT state, CWnd* other, BOOL minimized) override;

 private:
  BOOL RunSequence();
  void WriteSettings();

  Services services_;
};

#endif  // BRINDLEX_APP_MAIN_DLG_H_
