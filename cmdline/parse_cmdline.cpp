#include <cstring>

#include "app/main_dlg.h"

namespace {

// Argument texts of this many bytes or more are reported as over-long.
constexpr size_t kLongCommandLine = 256;

// True when `token` starts with `prefix`, ASCII letters compared without
// regard to case; bytes above 0x7F match only themselves and never a switch.
bool StartsWithSwitch(const char* token, const char* prefix) {
  for (; *prefix != '\0'; ++token, ++prefix) {
    unsigned char t = static_cast<unsigned char>(*token);
    unsigned char p = static_cast<unsigned char>(*prefix);
    if (t >= 'A' && t <= 'Z') t = static_cast<unsigned char>(t - 'A' + 'a');
    if (t != p) return false;
  }
  return true;
}

// Splits the next space-separated token out of `*cursor` in place; null when
// none is left.
char* NextToken(char** cursor) {
  char* p = *cursor;
  while (*p == ' ') ++p;
  if (*p == '\0') return nullptr;
  char* token = p;
  while (*p != '\0' && *p != ' ') ++p;
  if (*p == ' ') *p++ = '\0';
  *cursor = p;
  return token;
}

// The switches, in the order they are tried: the forms with a colon before
// the same letter without one. `apply` gets the token's rest after `prefix`.
struct SwitchRule {
  const char* prefix;
  void (*apply)(CMainDlg& dlg, const char* rest);
};

const SwitchRule kSwitches[] = {
    {"-p:", [](CMainDlg& dlg, const char* rest) { dlg.m_InfFileName = rest; }},
    {"-p", [](CMainDlg& dlg, const char*) { dlg.m_InfFileName = LoadFixedText(IDS_DEFAULT_INF); }},
    {"-s", [](CMainDlg& dlg, const char*) { dlg.m_SilentMode = FALSE; }},
    {"-l:",
     [](CMainDlg& dlg, const char* rest) {
       dlg.m_LogMode = TRUE;
       dlg.m_LogFileName = rest;
     }},
    {"-l",
     [](CMainDlg& dlg, const char*) {
       dlg.m_LogMode = TRUE;
       dlg.m_LogFileName = LoadFixedText(IDS_DEFAULT_LOG);
     }},
};

const SwitchRule* FindSwitch(const char* token) {
  for (const SwitchRule& rule : kSwitches) {
    if (StartsWithSwitch(token, rule.prefix)) return &rule;
  }
  return nullptr;
}

}  // namespace

int CMainDlg::ParseCmdLine(CStringList* startup) {
  const char* text = m_pCmdLine != nullptr ? m_pCmdLine : "";
  startup->AddTail("CALLING: ParseCmdLine()\n");
  startup->AddTail("\tCommand Line --> ");
  startup->AddTail(text);
  startup->AddTail("\n");

  int result = 1;
  if (*text == '\0') {
    startup->AddTail("ERROR: No Cmd line define\n");
    m_LogMode = TRUE;
    m_LogFileName = LoadFixedText(IDS_DEFAULT_LOG);
    result = 0;
  }
  if (std::strlen(text) >= kLongCommandLine) {
    startup->AddTail("ERROR: Cmd Line over 255 char\n");
    result = 0;
  }

  char* cursor = m_pCmdLine;
  for (char* token = cursor ? NextToken(&cursor) : nullptr; token; token = NextToken(&cursor)) {
    if (const SwitchRule* rule = FindSwitch(token)) {
      rule->apply(*this, token + std::strlen(rule->prefix));
    } else {
      startup->AddTail("ERROR: invaild param -->");
      startup->AddTail(token);
      startup->AddTail("\n");
      result = 0;
    }
  }

  startup->AddTail("LEAVING: ParseCmdLine()\n");
  return result;
}
